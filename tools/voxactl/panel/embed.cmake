# Turns the panel's page into a C++ header: the bytes as an array, so that
# the page travels inside the program and needs nothing at run time.
file(READ ${IN} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT}.tmp "// Generated from panel/page.html at build time; do not edit.\n#pragma once\nnamespace voxactl::panel {\ninline constexpr unsigned char kPage[] = {\n${bytes}0x00};\n}  // namespace voxactl::panel\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
