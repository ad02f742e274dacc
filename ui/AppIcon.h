#pragma once
// The application icon, drawn at run time in the sizes 16, 24, 32, 48 and 256.

#include <QIcon>

namespace fwup {

QIcon MakeAppIcon();

} // namespace fwup
