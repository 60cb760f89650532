// Opening an image for reading its media: which files libvmdk may read, and
// the snapshot parents it needs. Images come from strangers, so every file
// an image names is checked before the library touches it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "commands/host.h"
#include "platform/platform.h"
#include "vmdk/libvmdk.h"

namespace tessaly::commands {

struct ImageRules {
  // Folder holding libvmdk for each parent's binding; empty: the executable's.
  std::string library_folder;
  // Allow extent files that are links leading out of the image's folder.
  bool follow_links = false;
  // The longest snapshot chain followed, the image itself included.
  int max_chain = 32;
};

// Every file an opened image reads: itself, its extent files and its parents'.
using ImageFiles = std::vector<platform::FileIdentity>;

// A new binding loading libvmdk from `folder`; empty: the executable's folder.
std::unique_ptr<vmdk::TLibVMDK> MakeBinding(const std::string& folder);

// Opens the image file itself: by its 16-bit path where the platform's paths
// are code-page strings, by its bytes elsewhere. 0 when a handle exists.
int OpenImageFile(vmdk::TLibVMDK& lib, const ImageChoice& choice);

// For an image opened with OpenImageFile: checks the extent files it names,
// makes libvmdk open exactly those, opens them, and attaches the snapshot
// parents. Raises an Error whose sentence names the file at fault.
ImageFiles OpenImageData(vmdk::TLibVMDK& lib, const std::string& path, const ImageRules& rules);

}  // namespace tessaly::commands
