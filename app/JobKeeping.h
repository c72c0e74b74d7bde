// Jobs that outlive the app: a job that was printing when the app stopped
// is printed again when it starts, from the first page the printer did not
// take.
#pragma once

#include <string>

// The text of a state file with each job that was printing when it was
// written ("Job ... state=\"5\"") made pending again ("3"): PAPPL starts
// only pending jobs, and would leave such a job shown as printing for
// ever. `resumed`: how many were changed.
std::string PendingAgain(const std::string &stateText, int &resumed);

// The pages of one job that reached the printer, kept in the spool
// directory while the job prints and removed when it ends.
class PagesRecord {
public:
    PagesRecord(const std::string &spoolDir, int printerId, int jobId);

    // Pages the printer took before the app stopped: 0 without a record.
    int Done() const;
    // After page `pages` (counted from 1) was written and flushed.
    bool Note(int pages) const;
    void Remove() const;

    const std::string &Path() const { return m_path; }

private:
    std::string m_path;
};

// Whether `name` (a file in the spool directory) is a pages record, and of
// which printer and job.
bool ParsePagesRecordName(const std::string &name, int &printerId, int &jobId);
