#pragma once

// The demo skin's pictures: a dark 640x380 background with the game title
// and the captions of the labels beside their places, four states of every
// button on magenta (the transparent colour of button pictures), and the
// progress bar's fill.

#include <QImage>
#include <QString>
#include <utility>
#include <vector>

namespace skin_maker {

// Every picture of the skin by its file name, in package order.
std::vector<std::pair<QString, QImage>> DrawSkin(const QString& gameTitle);

}  // namespace skin_maker
