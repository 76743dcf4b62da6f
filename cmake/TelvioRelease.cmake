# The shipped build (make dist): small, stripped, and the same bytes wherever and whenever
# it is built, so that anyone can rebuild a release from its commit and compare it with
# the download. -Os comes with the MinSizeRel build type.

# Every function and datum in a section of its own, so the linker drops what nothing
# reaches; no symbols or debug information in the exe.
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections -s)

# No folder of the build machine in the exe: file names reach the code through __FILE__
# and the like. GCC tries the last map first, so the build tree, which may sit inside the
# checkout, is mapped before the checkout as a whole.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=telvio
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
# No link time in the PE header.
add_link_options(-Wl,--no-insert-timestamp)
# Archives without dates, owners or modes (Debian's ar does this already; others may not).
foreach(lang C CXX)
    set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()
