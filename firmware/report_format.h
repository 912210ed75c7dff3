// The lines of the firmware manager tool's report that the check reads. A
// prefix counts only at the very start of a line, compared case-sensitively.
#pragma once

#include <cstddef>

namespace report_format {

inline constexpr char kDevicePrefix[] = "Device #";  // opens one device's block
inline constexpr char kStatusPrefix[] = "  Status";
inline constexpr char kPartNumberPrefix[] = "  Part Number";
inline constexpr char kPsidPrefix[] = "  PSID";
// The maker's own PSIDs begin with this; the OEM filter leaves out the rest.
inline constexpr char kMakerPsidPrefix[] = "QV_";
// Where a status text and a PSID text begin: index 7, the label's last
// letter for a status ("s: Update required"), the byte after the colon of
// "  PSID:" for a PSID.
inline constexpr size_t kValueIndex = 7;

}  // namespace report_format
