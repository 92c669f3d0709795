# The WebAssembly build (emscripten; scripts/build-web). The numeric code is
# the same; the vector passes take the generic level, whose 128-bit vectors
# are WebAssembly's own with -msimd128, and the results are the same bits.
add_compile_options(-msimd128)
# Memory grows as the training set is read; the set's size is not known
# when the program is linked.
add_link_options(-sALLOW_MEMORY_GROWTH=1)
