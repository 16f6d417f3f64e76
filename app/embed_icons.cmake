# Writes a C++ source holding the icon PNGs as byte arrays, so the program carries its own icon.
# Usage: cmake -DICON_DIR=<folder with orvanta-WxH.png> -DOUTPUT=<file.cpp> -P embed_icons.cmake
set(sizes 16x11 24x16 32x21 48x32 64x43 128x85 256x171)
set(arrays "")
set(entries "")
foreach(size IN LISTS sizes)
  string(REPLACE "x" ";" dims "${size}")
  list(GET dims 0 width)
  list(GET dims 1 height)
  file(READ "${ICON_DIR}/orvanta-${size}.png" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR byteCount "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char icon${width}[${byteCount}] = {${bytes}};\n")
  string(APPEND entries "    {${width}, ${height}, icon${width}, sizeof icon${width}},\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from assets/icon by app/embed_icons.cmake; do not edit.
#include \"app/window_icon.hpp\"

namespace orvanta {
namespace {
${arrays}
const EmbeddedImage icons[] = {
${entries}};
} // namespace

std::span<const EmbeddedImage> embeddedIcons() { return icons; }

} // namespace orvanta
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
