#pragma once
// Opening the tray of a DVD drive.
//
// Runs on the calling thread and blocks for as long as the drive takes to
// answer the ioctl (usually well under a second; the tray motion itself
// goes on after the call returns). Close every handle of the disc first
// (the navigator, libdvdread): a drive in use may refuse.

#include <QString>

namespace velmora {

// The default drive: the first of /dev/dvd and /dev/sr0 that exists, or an
// empty string.
QString defaultDrive();

// Opens the tray of the drive at `device` (empty: the default drive) with
// the CDROMEJECT ioctl. Throws EngineError:
//   NoDisc       no drive: nothing at the path, no default drive, no device
//                behind the node;
//   DeviceError  the path is a folder or a disc image (not a drive), the
//                device cannot be opened, or it refuses to eject.
void ejectDrive(const QString &device);

} // namespace velmora
