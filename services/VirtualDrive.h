#pragma once
// The scratch folders and the "drive" that points at them.
//
// CreateVirtualDrive (video window load) makes the scratch folder
// $XDG_CACHE_HOME/velmora/Temp (else ~/.cache/velmora/Temp) with VIDEO_TS
// inside, and the link "y" in $XDG_RUNTIME_DIR/velmora (else the cache's
// velmora folder) pointing at Temp. RemoveVirtualDrive (program close) removes
// VIDEO_TS when it is empty and the link; Temp stays.
//
// Neither follows a link planted in place of the link or of VIDEO_TS, every
// failure is ignored, and neither waits on anything.

#include <QString>

namespace velmora {

void CreateVirtualDrive();
void RemoveVirtualDrive();

// The paths involved, from the environment at the time of the call.
QString scratchFolder();      // .../velmora/Temp
QString virtualDriveLink();   // .../velmora/y

} // namespace velmora
