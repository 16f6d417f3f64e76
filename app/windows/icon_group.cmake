# Writes a resource script holding the program's icon, group 101, from the seven PNG images:
# each image is an icon image resource stored as PNG (ids 1 to 7), and the group's directory lists
# them with their sizes. This is what an .ico of PNG entries would become in the executable;
# CMake writes text only, so the directory is written as resource data rather than as an .ico.
# Usage: cmake -DICON_DIR=<folder with orvanta-WxH.png> -DOUTPUT=<file.rc> -P icon_group.cmake
set(sizes 16x11 24x16 32x21 48x32 64x43 128x85 256x171)
list(LENGTH sizes count)
set(images "")
# GRPICONDIR: reserved, type 1 (icon), count; then per image a GRPICONDIRENTRY: width and height
# in one word (256 is written 0), colour count and reserved, planes, bits per pixel, the image's
# size in bytes (a double word: the L suffix) and its resource id.
set(directory "  0, 1, ${count}")
set(id 0)
foreach(size IN LISTS sizes)
  math(EXPR id "${id} + 1")
  string(REPLACE "x" ";" dims "${size}")
  list(GET dims 0 width)
  list(GET dims 1 height)
  set(png "${ICON_DIR}/orvanta-${size}.png")
  file(SIZE "${png}" bytes)
  math(EXPR sizeWord "(${width} % 256) + (${height} % 256) * 256")
  string(APPEND images "${id} 3 \"${png}\"\n")
  string(APPEND directory ",\n  ${sizeWord}, 0, 1, 32, ${bytes}L, ${id}")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from assets/icon by app/windows/icon_group.cmake; do not edit.
${images}
101 14
BEGIN
${directory}
END
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
