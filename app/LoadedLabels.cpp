#include "LoadedLabels.h"

#include <cups/cups.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "DriverTable.h"
#include "MyBuffer.h"
#include "NiimbotEncoder.h"
#include "StatusMonitor.h"

namespace {

constexpr int kNiimbot = 26;
constexpr int kAskMs = 2000;

std::vector<uint8_t> Request(void (*add)(NS_QV_CLASS::CMyBuffer &))
{
    NS_QV_CLASS::CMyBuffer bytes;
    add(bytes);
    const auto *b = reinterpret_cast<const uint8_t *>(bytes.GetBuffer());
    return std::vector<uint8_t>(b, b + bytes.GetBufferLength());
}

// The first whole packet of command `cmd` in what came back, or empty.
std::vector<uint8_t> PacketOf(const std::vector<uint8_t> &bytes, uint8_t cmd)
{
    for (size_t at = 0; at + 7 <= bytes.size(); ++at) {
        if (bytes[at] != 0x55 || bytes[at + 1] != 0x55 || bytes[at + 2] != cmd)
            continue;
        const size_t total = bytes[at + 3] + 7u;
        if (at + total <= bytes.size())
            return std::vector<uint8_t>(bytes.begin() + static_cast<long>(at),
                                        bytes.begin() + static_cast<long>(at + total));
    }
    return {};
}

std::vector<uint8_t> Ask(pappl_job_t *job, pappl_device_t *device, void (*add)(NS_QV_CLASS::CMyBuffer &),
                         uint8_t replyCmd)
{
    return PacketOf(AskPrinter(job, device, Request(add), kAskMs,
                               [replyCmd](const std::vector<uint8_t> &b) { return !PacketOf(b, replyCmd).empty(); }),
                    replyCmd);
}

pappl_media_tracking_t TrackingOf(int labelType)
{
    switch (labelType) {
    case niimbot::kLabelBlackMark:
    case niimbot::kLabelBlackMarkGap:
        return PAPPL_MEDIA_TRACKING_MARK;
    case niimbot::kLabelContinuous:
    case niimbot::kLabelTube:
        return PAPPL_MEDIA_TRACKING_CONTINUOUS;
    default:
        return PAPPL_MEDIA_TRACKING_GAP;
    }
}

void ShowRoll(pappl_printer_t *printer, const LoadedRoll &roll)
{
    if (roll.size) {
        pappl_pr_driver_data_t data;
        papplPrinterGetDriverData(printer, &data);
        pappl_media_col_t ready = data.media_ready[0];
        ready.size_width = roll.label.width;
        ready.size_length = roll.label.length;
        pwg_media_t *pwg = pwgMediaForSize(roll.label.width, roll.label.length);
        if (pwg)
            snprintf(ready.size_name, sizeof ready.size_name, "%s", pwg->pwg);
        ready.tracking = TrackingOf(roll.labelType);
        if (!papplPrinterSetReadyMedia(printer, 1, &ready))
            papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN,
                            "The loaded labels (%.1f x %.1f mm) are not among the sizes this driver offers.",
                            roll.label.width / 100.0, roll.label.length / 100.0);
    }
    if (roll.total > 0) {
        pappl_supply_t supply{};
        supply.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
        supply.is_consumed = true;
        supply.type = PAPPL_SUPPLY_TYPE_OTHER;
        const int left = std::max(0, roll.total - roll.used);
        supply.level = left * 100 / roll.total;
        snprintf(supply.description, sizeof supply.description, "Labels (%d of %d left)", left, roll.total);
        papplPrinterSetSupplies(printer, 1, &supply);
    }
}

} // namespace

bool CheckLoadedLabels(pappl_job_t *job, pappl_device_t *device, const PpdModel &model,
                       const pappl_pr_options_t *options)
{
    if (model.modelNumber != kNiimbot)
        return true;
    const std::vector<uint8_t> tag = Ask(job, device, niimbot::AddRfidRequest, niimbot::kReplyRfid);
    const std::vector<uint8_t> info =
        tag.empty() ? tag : Ask(job, device, niimbot::AddLabelInfoRequest, niimbot::kReplyLabelInfo);
    const LoadedRoll roll = ReadRoll(tag, info, model.yDpi, niimbot::ModelFor(model.modelName).sideways);
    if (!roll.tag) {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                    "No labels read from the printer (%s): the job's media and darkness "
                    "are used.",
                    roll.why.c_str());
        return true;
    }
    ShowRoll(papplJobGetPrinter(job), roll);
    if (!roll.size) {
        papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                    "The roll's tag was read (%d of %d labels used) but not its label size: the job's media is "
                    "used.",
                    roll.used, roll.total);
        return true;
    }
    const LabelSize page{options->media.size_width, options->media.size_length};
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Labels in the printer: %.1f x %.1f mm, %d of %d used.",
                roll.label.width / 100.0, roll.label.length / 100.0, roll.used, roll.total);
    if (LabelFits(page, roll.label))
        return true;
    papplJobSetMessage(job, "The job's labels (%.1f x %.1f mm) are larger than those in the printer (%.1f x %.1f mm).",
                       page.width / 100.0, page.length / 100.0, roll.label.width / 100.0, roll.label.length / 100.0);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                "Refused: the job's labels (%.1f x %.1f mm) are larger than those in the printer (%.1f x %.1f mm).",
                page.width / 100.0, page.length / 100.0, roll.label.width / 100.0, roll.label.length / 100.0);
    return false;
}
