// SPDX-License-Identifier: MIT
// The Qt image plug-in of both formats: every Qt program that reads pictures through
// QImageReader (KDE's viewers, file managers' previews, document viewers) then opens GRA and Q
// pictures. One source, built once for Qt 5 and once for Qt 6.
//
// The plug-in is a host of the decoders like any other, through the host library: the formats'
// own checks recognise a picture by its first bytes, and the picture is decoded whole into a
// 640 x 400 QImage::Format_Indexed8 image with the picture's 16 colours as its colour table, a
// Q picture's comment as the image text "Comment".
//
// A picture read from a file with a name (a QFile at its start, not sequential) is decoded by
// that name, so a GRA picture's palette and fourth-plane files beside it count; from a buffer, a
// pipe or any other device it is decoded from the bytes read, without them. No more bytes are
// read from a device than the largest file of the picture's format. A picture that cannot be
// decoded gives no image, and a warning that names the file and the reason.
#pragma once

#include <QImageIOPlugin>

class PlanesImagePlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "planes_image_plugin.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};
