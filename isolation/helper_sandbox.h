#pragma once

#include <cstdint>
#include <string>

// The confinement of a decoder helper, entered once its start-up (Qt, fonts) is done.

// Limits the address space to what the process maps now plus storageLimit plus a margin for
// the codecs' own buffers and threads, and turns core dumps off. Returns the limit set, or
// 0 where none is set (sanitizer builds reserve far more address space than they use).
uint64_t LimitHelperResources(uint64_t storageLimit);

// Leaves the process only reading beneath the folders fonts and their configuration live in
// (Landlock): the SVG renderer opens a font file again whenever it takes up a face it let
// go, long after start-up. False, with the reason in why, where the kernel has no Landlock;
// the filter then lets no file be opened at all.
bool RestrictFilesToFonts(std::string& why);

// Enters the system-call filter: memory, threads, reading and writing descriptors the helper
// holds, passing descriptors on its socket, memfds, time; no network, no new programs, no
// signals to other processes, and no opening of files, except for reading where
// fontsReadable says RestrictFilesToFonts keeps that to the fonts. Anything else fails with
// EPERM. False, with the reason in why, where the kernel or the build has no filter to offer.
bool EnterSyscallFilter(bool fontsReadable, std::string& why);
