# Turns a file into a C++ array (serve_page), so that the program carries
# its page and serves it without reading a file: cmake -DIN=... -DOUT=... -P
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUT} "#include <cstddef>\nextern const unsigned char serve_page[] = {${bytes}0};\nextern const size_t serve_page_size = ${size};\n")
