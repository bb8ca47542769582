#pragma once
// Paths written the Windows way, as the installation's settings and the screens build them
// ("C:\SIS\Rel\guia_gps.bmp"), found on this file system.
#include <QString>

namespace fis {

// The existing file a Windows path names, or an empty text when there is none. Backslashes and
// slashes both separate folders; folder and file names compare without regard to case (an exact
// match is preferred); a drive letter ("C:") stands for the root; a relative path starts at base.
QString resolveWindowsPath(const QString &path, const QString &base);

} // namespace fis
