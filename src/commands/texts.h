// The fixed texts the commands show, in one place.
#pragma once

namespace tessaly::commands::texts {

inline constexpr char kImageFilter[] = "VMDK|*.VMDK";
inline constexpr char kLineBreak[] = "\r\n";
inline constexpr char kClipboardNote[] = "data pasted in clipboard";
inline constexpr char kMediaSizeFailed[] = "libvmdk_get_media_size failed";
inline constexpr char kExtentsFailed[] = "Unable to open extent data files";
inline constexpr char kWriteFailed[] = "writefile failed";
inline constexpr char kReadFailedAt[] = "read failed at offset ";
inline constexpr char kSameFile[] = "source and target are the same file";
inline constexpr char kNoHandle[] = "could not create a libvmdk handle";
inline constexpr char kInterrupted[] = "interrupted";
inline constexpr char kStart[] = "start";
inline constexpr char kDoneIn[] = "done in ";

}  // namespace tessaly::commands::texts
