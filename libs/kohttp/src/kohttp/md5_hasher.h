// The MD5 used for uploaded files (private): one seam, so the hash
// implementation is chosen in one place.
#pragma once

#include <lumo/md5.h>

namespace kohttp::detail {

using Md5Hasher = lumo::Md5;

} // namespace kohttp::detail
