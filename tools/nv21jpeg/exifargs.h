// Parsing of the tool's EXIF tag arguments: TAG=TYPE:VALUE[,VALUE...]
#pragma once

#include <string>

#include "exifwriter.h"

namespace nv21jpeg {

// "0x9209=short:25", "0x010F=ascii:Samsung", "0x829A=rational:1/30",
// "0x0002=rational:51/1,30/1,1234/100", "0xA302=undefined:00020002", "0x9201=srational:-3/1".
// Types: byte, ascii, short, long, rational, undefined (hex), slong, srational: those the
// host's property values can carry.
bool ParseExifArg(const std::string& arg, orbhost::services::ExifEntry& out, std::string* why);

}  // namespace nv21jpeg
