#pragma once
// The picture helper: a process of Lumora's own executable that the saver
// starts to read and decode its pictures, so that a codec's crash, hang or
// appetite ends this process and never the show. It has no window, never
// touches the single-instance guard, and ends when the saver does.
#include <windows.h>

namespace lumora {

// The channel section, when this process was started as the saver's picture
// helper: the saver hands it over as the standard input handle, and its
// header carries a mark only the saver writes. Null for every other start,
// whatever the command line says.
HANDLE PictureHelperChannel();

// Serves the saver's requests until the saver's process ends.
int RunPictureHelper(HANDLE channel);

}  // namespace lumora
