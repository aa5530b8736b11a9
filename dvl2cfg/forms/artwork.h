// The about picture and the window icon, drawn at run time.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace dvl::dvl2cfg {

inline constexpr int kAboutPictureWidth = 306;
inline constexpr int kAboutPictureHeight = 228;

// A light backdrop with the program's mark and name in its upper part; the
// lower part stays calm for the labels drawn over it.
QPixmap DrawAboutPicture();

// A closed crate with a strap, at 16, 32 and 48 pixels.
QIcon DrawWindowIcon();

} // namespace dvl::dvl2cfg
