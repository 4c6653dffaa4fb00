#pragma once
// The one place that picks the icon source: the desktop's unless a factory is installed
// (tests install a scripted one).

#include <memory>

#include "store/IconSource.h"

namespace kestrova {

// nullptr restores the desktop's.
using IconSourceFactory = std::shared_ptr<IconSource> (*)();
void SetIconSourceFactory(IconSourceFactory factory);
std::shared_ptr<IconSource> AcquireIconSource();

}  // namespace kestrova
