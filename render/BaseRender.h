// Renderer base: the hooks the job loop drives, the settings record, the page
// images and the two output channels (printer data, system log).
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "MyBuffer.h"
#include "ObjRef.h"
#include "RegStruct.h"
#include "ximage.h"

class CBaseRender : public TObjRefImpl<IObjRef> {
public:
    CBaseRender();
    ~CBaseRender() override;

    virtual void OnStartDoc(unsigned long) {}
    virtual void OnEndDoc() { OnDestroy(); }
    virtual void OnInit() {}
    virtual void OnDestroy() {}
    virtual void OnStartPage() {}
    virtual void OnEndPage() {}
    virtual void OnBeginBmp();
    virtual void OnEndBmp() {}
    virtual void OnPaintBmp() {}
    // The only way printer data leaves the renderer: to the sink when one is
    // set, otherwise to fd 1 (WriteToStandardOutput).
    virtual void WriteSpool(const void *data, int len);
    // printf-style trace line: to the trace handler when one is set,
    // otherwise to the system log at LOG_DEBUG.
    virtual void AddLog(const char *format, ...) __attribute__((format(printf, 2, 3)));
    virtual void GetPrinterParameters();

    void SetModelName(const char *name) { m_strModelName = name ? name : ""; }
    std::string GetModelName() const { return m_strModelName; }

    std::string GetMarkedOption(const char *keyword);
    float ConvertUnits(int type, float value);

    // A settings length in millimetres as whole printer dots at the page's
    // horizontal resolution.
    int MillimetresToDots(float mm);

    // The renderer's face of page preparation (PagePrep.h), at the page's
    // resolution; a page that can't be prepared is refused.
    void AdjustImage(CxImage &image);
    void CropWhiteEdge(CxImage &image, int top, int bottom, int left, int right);
    void Negative(CxImage &image);
    void AdjustEffWidthBits(CxImage &image);

    // Writes a page's assembled commands, unless the buffer hit its content
    // limit: then the page is refused rather than sent cut short.
    void WritePage(NS_QV_CLASS::CMyBuffer &buffer);
    // Refuses the page being printed with a reason for the user: to the
    // refusal handler when one is set, otherwise as an "ERROR:" line.
    void Refuse(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // True once the page being prepared has been refused; the page is then
    // not encoded. Cleared when the next page's preparation starts.
    bool PageRefused() const { return m_bPageRefused; }
    // True once a write to the printer has failed (backend gone); the job
    // loop then stops as for a cancel and the job fails.
    bool SpoolFailed() const { return m_bSpoolFailed; }

    CxImage m_Image;
    CxImage m_ImageRed;
    int m_iResolution = 0;
    tagREGSTRUCT m_Reg;
    ppd_file_t *m_pPPD = nullptr; // read by GetPrinterParameters only
    bool m_bInited = false;
    std::string m_strModelName;
    // Where printer data, refusals and traces go; unset: fd 1, stderr and
    // the system log.
    std::function<bool(const void *, size_t)> m_Sink;
    std::function<void(const std::string &)> m_OnRefusal;
    std::function<void(const std::string &)> m_OnTrace;

protected:
    bool m_bSpoolFailed = false;
    bool m_bPageRefused = false;

    // The one page check of every family: the page about to be encoded
    // against the family's limits and the head width. Refuses the page and
    // returns false when it can't be sent.
    bool PageFits(const struct FamilyLimits &limits, const struct PageShape &page, int bufferLimit);
};

// Writes all of data to fd 1 and flushes stdout; false, with an "ERROR:" line,
// when the write fails (the backend has gone).
bool WriteToStandardOutput(const void *data, size_t len);
