#include "commands/image.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>

#include "commands/texts.h"
#include "platform/error.h"

namespace tessaly::commands {
namespace {

// The last component of a name, cut the way the platform's libvmdk cuts it.
std::string BaseName(const std::string& name) {
  const std::size_t cut = name.rfind(platform::kLibraryPathSeparator);
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// The last component of a parent hint, which may come from a host with
// either kind of separator.
std::string HintBaseName(const std::string& hint) {
  const std::size_t cut = hint.find_last_of("/\\:");
  return cut == std::string::npos ? hint : hint.substr(cut + 1);
}

bool HasParentStep(const std::string& name) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || platform::IsPathSeparator(name[i])) {
      if (name.compare(start, i - start, "..") == 0 && i - start == 2) return true;
      start = i + 1;
    }
  }
  return false;
}

// True for a sparse extent file, which carries its own descriptor: such an
// image is the one file the user chose, whatever name its descriptor gives.
bool IsSelfContained(const std::string& path) {
  char magic[4] = {};
  std::ifstream in(path, std::ios::binary);
  in.read(magic, sizeof magic);
  return in.gcount() == 4 &&
         (std::equal(magic, magic + 4, "KDMV") || std::equal(magic, magic + 4, "COWD"));
}

platform::FileIdentity IdentityOf(const std::string& path) {
  std::optional<platform::FileIdentity> id = platform::IdentifyFile(path);
  if (!id) throw Error("the file " + path + " vanished while the image was opened");
  return *id;
}

// The file that extent `name` of the image in `folder` (with its resolved
// form `real_folder`) stands for, after the checks that keep a hostile
// descriptor from reaching other files.
std::string ResolveExtent(const std::string& name, const std::string& folder,
                          const std::string& real_folder, const ImageRules& rules) {
  if (platform::IsAbsolutePath(name)) {
    throw Error("the image names its extent file by an absolute path (" + name +
                "); only files beside the image are read");
  }
  if (HasParentStep(name)) {
    throw Error("the image's extent file " + name + " lies outside the image's folder");
  }
  const std::string path = folder + name;
  switch (platform::KindOf(path)) {
    case platform::FileKind::kMissing:
      throw Error(texts::kExtentsFailed, "the extent file " + path + " is missing");
    case platform::FileKind::kRegular:
      break;
    default:
      throw Error("the image's extent file " + path + " is not a regular file");
  }
  std::optional<std::string> real = platform::RealPath(path);
  if (!real) throw Error(texts::kExtentsFailed, "the extent file " + path + " is missing");
  const bool inside = real->compare(0, real_folder.size(), real_folder) == 0;
  if (!inside && !rules.follow_links) {
    throw Error("the image's extent file " + path + " is a link to " + *real +
                ", outside the image's folder");
  }
  return *real;
}

// The names under which libvmdk looks for extent `name` in the folder it is
// given. Names with a folder part are cut to a length taken from the folder
// part by Debian's libvmdk 20200926; a fixed one takes the whole last
// component. Both are staged. Where the cut would read past the name's end,
// no name is safe.
std::vector<std::string> LookupNames(const std::string& name) {
  const std::string base = BaseName(name);
  if (base.empty()) throw Error("the image's extent file name " + name + " names a folder");
  if (base.size() == name.size()) return {base};
  const std::size_t cut = name.size() - base.size() - 1;
  if (cut == 0 || cut > base.size()) {
    throw Error("the image's extent file name " + name +
                " cannot be opened safely with this libvmdk");
  }
  return {base, base.substr(0, cut)};
}

ImageFiles OpenChain(vmdk::TLibVMDK& lib, const std::string& path, const ImageRules& rules,
                     ImageFiles chain) {
  const std::string folder = platform::FolderOf(path);
  // The resolved folder with its separator, so that "dir2" is not inside "dir".
  const std::string real_folder =
      platform::NativePath(platform::RealPath(folder.empty() ? "." : folder).value_or("") + "/");
  if (!lib.CanInspect()) throw Error("checking an image's files is not supported by this libvmdk");
  int extents = 0;
  try {
    extents = lib.GetNumberOfExtents();
  } catch (const Error& e) {
    // The image did not open: this is where the library says so.
    throw Error(texts::kExtentsFailed, e.details());
  }
  chain.push_back(IdentityOf(path));
  ImageFiles files{chain.back()};
  if (extents < 1) throw Error("the image " + path + " names no extent files");

  const bool self_contained = IsSelfContained(path);
  // Where libvmdk's own look-up (the image's folder and the name) would reach
  // another file than the vetted one, every extent is staged instead.
  std::map<std::string, std::string> staged;
  bool must_stage = false;
  int data_extents = 0;
  for (int i = 0; i < extents; ++i) {
    const vmdk::ExtentInfo extent = lib.GetExtent(i);
    if (extent.type == vmdk::kExtentTypeZero) continue;
    if (extent.file_name.empty())
      throw Error("extent " + std::to_string(i) + " of the image has no file name");
    ++data_extents;
    if (self_contained && data_extents > 1) {
      throw Error("the image " + path + " holds its own data but names more than one extent file");
    }
    const std::string file = self_contained
                                 ? platform::RealPath(path).value_or(path)
                                 : ResolveExtent(extent.file_name, folder, real_folder, rules);
    files.push_back(IdentityOf(file));
    const std::vector<std::string> names = LookupNames(extent.file_name);
    must_stage = must_stage || names.size() > 1 || (self_contained && names[0] != BaseName(path));
    for (const std::string& name : names) {
      auto [it, added] = staged.emplace(name, file);
      if (!added && it->second != file) {
        throw Error("two extent files of the image are both looked up as " + name);
      }
    }
  }
  if (must_stage) {
    auto staging = std::make_shared<platform::LinkFolder>();
    for (const auto& [name, file] : staged) {
      if (!staging->Link(name, file)) {
        throw Error("the image's extent file " + file + " could not be prepared for reading");
      }
    }
    std::string staging_path = staging->path();
    staging_path.pop_back();  // the library adds the separator itself
    lib.SetExtentDataFilesPath(staging_path);
    lib.Keep(staging);
  }
  if (lib.OpenExtentDataFiles() != 1) throw Error(texts::kExtentsFailed, lib.LastErrorDetails());

  const std::string hint = lib.GetParentFileName();
  if (hint.empty()) return files;
  const std::string parent_path = folder + HintBaseName(hint);
  if (static_cast<int>(chain.size()) >= rules.max_chain) {
    throw Error("the snapshot chain of " + path + " is longer than " +
                std::to_string(rules.max_chain) + " images");
  }
  if (platform::KindOf(parent_path) != platform::FileKind::kRegular) {
    throw Error("the parent image " + parent_path + " of " + path + " is missing");
  }
  if (std::find(chain.begin(), chain.end(), IdentityOf(parent_path)) != chain.end()) {
    throw Error("the snapshot chain loops back to " + parent_path);
  }
  auto parent = MakeBinding(rules.library_folder);
  if (OpenImageFile(*parent, ImageChoice{parent_path, std::nullopt}) != 0) {
    throw Error("the parent image " + parent_path + " could not be opened");
  }
  ImageFiles parent_files;
  try {
    parent_files = OpenChain(*parent, parent_path, rules, chain);
  } catch (const Error& e) {
    if (e.what() != std::string(texts::kExtentsFailed)) throw;
    throw Error("the parent image " + parent_path + " could not be opened", e.details());
  }
  try {
    lib.AttachParent(std::move(parent));
  } catch (const Error& e) {
    throw Error("the parent image " + parent_path + " does not belong to " + path, e.details());
  }
  files.insert(files.end(), parent_files.begin(), parent_files.end());
  return files;
}

}  // namespace

std::unique_ptr<vmdk::TLibVMDK> MakeBinding(const std::string& folder) {
  return folder.empty() ? std::make_unique<vmdk::TLibVMDK>()
                        : std::make_unique<vmdk::TLibVMDK>(folder);
}

int OpenImageFile(vmdk::TLibVMDK& lib, const ImageChoice& choice) {
  std::optional<std::wstring> wide = choice.wide ? choice.wide : platform::WidePathFor(choice.path);
  if (wide) return lib.OpenWide(*wide, vmdk::kAccessRead);
  return lib.Open(choice.path, vmdk::kAccessRead);
}

ImageFiles OpenImageData(vmdk::TLibVMDK& lib, const std::string& path, const ImageRules& rules) {
  return OpenChain(lib, path, rules, {});
}

}  // namespace tessaly::commands
