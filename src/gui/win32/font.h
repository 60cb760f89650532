// The font of the window and the crash reporter's dialog, owned.
#pragma once

#include <windows.h>

#include <utility>

namespace tessaly::gui {

class FontHandle {
 public:
  explicit FontHandle(HFONT font = nullptr) : font_(font) {}
  ~FontHandle() {
    if (font_ != nullptr) DeleteObject(font_);
  }
  FontHandle(FontHandle&& other) noexcept : font_(std::exchange(other.font_, nullptr)) {}
  FontHandle& operator=(FontHandle&& other) noexcept {
    std::swap(font_, other.font_);
    return *this;
  }
  FontHandle(const FontHandle&) = delete;
  FontHandle& operator=(const FontHandle&) = delete;

  HFONT get() const { return font_; }

 private:
  HFONT font_;
};

// "MS Sans Serif", 11 pixels high (8 points at 96 pixels per inch), plain,
// in the default character set; the system stands in its substitute where
// that face is missing.
inline FontHandle MakeFormFont() {
  return FontHandle(CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));
}

// Gives `window` and every window below it `font`.
inline void SetFontOnTree(HWND window, HFONT font) {
  SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  EnumChildWindows(
      window,
      [](HWND child, LPARAM value) -> BOOL {
        SendMessageA(child, WM_SETFONT, static_cast<WPARAM>(value), FALSE);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(font));
}

}  // namespace tessaly::gui
