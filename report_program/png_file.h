#pragma once

#include <QImage>
#include <QString>
#include <string>

namespace varnholt {

// The image as a PNG file, encoded for speed: libpng without row filters at
// a low zlib level, where Qt's writer tries every filter on every row (nine
// tenths of --png's time). False with a reason ("No space left on device").
bool WritePngFile(const QImage& image, const QString& path, std::string& why);

}  // namespace varnholt
