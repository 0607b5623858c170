// Platform identity: the model, the serial number and the asset value, read from the I/O Kit
// platform expert.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <stdint.h>

// Fills serial, asset and model (64-byte store texts; model may be null). Returns 1 when the serial
// came from "IOPlatformSerialNumber", else 0. Every text is left empty by a failure.
int32_t CapturePlatformIdentity(char *serial, char *asset, char *model);

// Fills make (a 64-byte store text) with the machine's maker as the platform names it, escaped and
// cut like the model (not trimmed: the capture pass trims). Returns 1 when the platform named one.
int32_t CaptureComputerMake(char *make);

// Copies the platform expert's "model" data into model (64 bytes), escaped. Returns 1 when copied.
// The service stays the caller's.
int32_t ReadPlatformModel(io_service_t service, char *model);

// Rebuilds the serial number and the asset value (64-byte texts) from the bytes of the
// "serial-number" property. Reads nothing beyond length bytes; the data stays the caller's.
void ParseSerialNumberData(const UInt8 *data, CFIndex length, char *asset, char *serial);
