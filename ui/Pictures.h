#pragma once

#include <QIcon>
#include <QPixmap>

#include <memory>

// A picture object that several images can show at once.
using Picture = std::shared_ptr<const QPixmap>;

// The program's icon: one source document copied to many.
QIcon programIcon();

// The tick pictures of the destination slots, 32 by 32 pixels.
Picture tickedPicture();
Picture notTickedPicture();
