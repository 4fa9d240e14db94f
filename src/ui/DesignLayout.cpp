#include "ui/DesignLayout.h"

#include <algorithm>
#include <iterator>

namespace tollavar {

namespace {

// Room kept between a label's text and the next control on its row.
constexpr int kLabelGap = 60;

constexpr Placement kPlacements[] = {
    {"Label1", {120, 120, 2655, 255}},           {"txtIDX", {120, 360, 4455, 375}},
    {"cmdBrowseIDX", {4680, 300, 900, 500}},     {"Label2", {120, 840, 2655, 255}},
    {"txtXML", {120, 1080, 4455, 375}},          {"cmdBrowseXML", {4680, 1020, 900, 500}},
    {"Label11", {120, 1560, 2655, 255}},         {"txtImageFolder", {120, 1800, 4455, 375}},
    {"cmdBrowseFolder", {4680, 1740, 900, 500}}, {"Label3", {120, 2280, 1995, 255}},
    {"txtDGNUMBER", {120, 2520, 1995, 375}},     {"Label10", {2280, 2280, 1995, 255}},
    {"txtMaxFiles", {2280, 2520, 1995, 375}},    {"cmdRun", {4560, 2760, 900, 735}},
    {"Label4", {120, 3000, 1995, 255}},          {"txtDGCOMPNAME", {120, 3240, 2000, 375}},
    {"Label5", {2280, 3000, 1995, 255}},         {"txtDGCOMPID", {2280, 3240, 2000, 375}},
    {"Label7", {120, 3720, 1995, 255}},          {"txtNAME", {120, 3960, 2000, 375}},
    {"Label6", {2280, 3720, 1995, 255}},         {"txtPROJID", {2280, 3960, 2000, 375}},
    {"Label12", {120, 4440, 1995, 255}},         {"cboDelimiter", {120, 4680, 2055, 315}},
    {"Label13", {2280, 4500, 2055, 450}},        {"Label8", {120, 5160, 3615, 255}},
    {"txtFNAMES", {120, 5400, 5415, 375}},       {"Label9", {120, 5880, 4455, 255}},
    {"txtFTYPES", {120, 6120, 5415, 375}},
};

} // namespace

const Placement* designPlacementsBegin()
{
    return std::begin(kPlacements);
}

const Placement* designPlacementsEnd()
{
    return std::end(kPlacements);
}

TwipRect designRect(std::string_view name)
{
    for (const Placement& p : kPlacements)
        if (name == p.name)
            return p.rect;
    return {};
}

int labelLimit(const TwipRect& label, std::string_view labelName)
{
    int limit = kClientWidth - 120;
    for (const Placement& p : kPlacements) {
        if (labelName == p.name)
            continue;
        const TwipRect& r = p.rect;
        const bool sameRow = r.top < label.top + label.height && r.top + r.height > label.top;
        if (sameRow && r.left > label.left)
            limit = std::min(limit, r.left - kLabelGap);
    }
    return limit;
}

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace tollavar
