# cmake -DIN=FILE -DOUT=FILE.cpp -P embed.cmake: FILE's bytes as
# fbx::shop::web::kPageData and kPageSize.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
       "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n#include <cstddef>\n"
     "namespace fbx::shop::web {\nextern const unsigned char kPageData[];\n"
     "extern const std::size_t kPageSize;\nconst unsigned char kPageData[] = {\n${bytes}0};\n"
     "const std::size_t kPageSize = ${size};\n}\n")
