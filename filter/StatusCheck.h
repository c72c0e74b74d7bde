// Status questions to the printer between pages, for the filter: the query
// goes out with the printer data on standard output, the answer comes back
// on the backend's back channel (file descriptor 3).
//
// On only when the PPD offers qfStatusQuery and it is 1, and the device URI
// names a backend that passes the printer's answers back (socket, usb);
// otherwise nothing is sent and the job's bytes are those of a filter
// without it. While the printer reports a fault the filter sends nothing,
// shows the reasons with "STATE: +..." lines and asks again every second;
// "STATE: -..." takes them back. A printer that does not answer costs one
// timeout in the job, then is not asked again.
#pragma once

#include <cups/ppd.h>

#include <memory>

namespace qf::status {
class StatusGate;
}

class FilterStatus {
public:
    FilterStatus(int modelNumber, ppd_file_t *ppd);
    ~FilterStatus();

    bool Active() const;
    // Before a page; false when the job was cancelled while waiting.
    bool BeforePage();
    // End of the job: takes back every reason still shown.
    void EndJob();

private:
    int m_Model;
    std::unique_ptr<qf::status::StatusGate> m_Gate;
};
