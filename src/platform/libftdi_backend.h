// The libftdi1 backend keeps every converter it opened claimed (the kernel's
// serial driver detached) across FT_Close, because the cable layer opens and
// closes the converter for every command and each rebind of the driver makes
// a /dev/ttyUSB* appear, which programs that probe new serial ports then
// write to. It gives the converters back when Tern is done with them.
#pragma once

// Stops using every converter the backend holds and gives it back to the
// system: the USB interface is released and the kernel's serial driver bound
// again. Handles still open become invalid. Runs at exit by itself; a program
// that is done with the cable earlier may call it.
void libftdi_releaseAll();
