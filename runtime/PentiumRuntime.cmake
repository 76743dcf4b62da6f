# The i686 program must run on the Pentium, Pentium MMX and K6-2 of Windows 98 and NT 4:
# no CMOV, FCOMI, MMX or SSE. Its own code is built with -march=i586 (CMakeLists.txt), but
# the toolchain's runtime archives come built for the Pentium Pro. Besides the objects of
# this folder (README.md), two parts of the runtime are made here for the target
# telvio_runtime (CMakeLists.txt) hands on to every program that links it:
#   - the start-up object, PentiumStartup.c, linked in place of MinGW's crt2.o;
#   - the exception machinery (the unwinder, the personality routine, the catch path, the
#     exception allocator, std::exception_ptr, emulated TLS) compiled here from the
#     compiler's own sources, which Debian ships in gcc-12-source; unpacked into the build
#     tree once.
# tools/instruction-floor/check.py checks the linked exe for anything left.
function(telvio_pentium_runtime target)
    # target: the INTERFACE library that carries both to the programs linking it.
    set(dir ${CMAKE_BINARY_DIR}/pentium-runtime)

    # The start-up object: the driver looks for crt2.o in a -B folder first.
    add_library(${target}_crt2 OBJECT ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/PentiumStartup.c)
    add_custom_command(OUTPUT ${dir}/crt2.o
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_OBJECTS:${target}_crt2> ${dir}/crt2.o
        DEPENDS $<TARGET_OBJECTS:${target}_crt2> VERBATIM)
    add_custom_target(${target}_crt2_copy DEPENDS ${dir}/crt2.o)
    add_dependencies(${target}_crt2_copy ${target}_crt2)
    add_dependencies(${target} ${target}_crt2_copy)
    target_link_options(${target} INTERFACE -B${dir}/)
    set_property(TARGET ${target} APPEND PROPERTY INTERFACE_LINK_DEPENDS ${dir}/crt2.o)

    # The compiler's own sources: Debian builds its MinGW compilers from the gcc-N source
    # of the same release (Built-Using), which gcc-N-source ships.
    string(REGEX MATCH "^[0-9]+" major ${CMAKE_CXX_COMPILER_VERSION})
    file(GLOB tarball /usr/src/gcc-${major}/gcc-${major}.*.tar.xz)
    if(NOT tarball)
        message(FATAL_ERROR "No source of GCC ${major} in /usr/src/gcc-${major}: the i686 "
                            "program needs gcc-${major}-source (tools/install-deps.sh installs it)")
    endif()
    get_filename_component(top ${tarball} NAME)
    string(REGEX REPLACE "^(gcc-[0-9.]+[0-9]).*" "\\1" top ${top})
    set(libgcc libgcc/unwind-dw2.c libgcc/unwind-dw2-fde.c libgcc/emutls.c
        libgcc/unwind-pe.h libgcc/unwind-dw2-fde.h libgcc/unwind-dw2.h libgcc/gthr.h
        libgcc/unwind.inc libgcc/config/i386/gthr-win32.h libgcc/config/i386/w32-unwind.h
        gcc/tsystem.h gcc/coretypes.h include/dwarf2.h include/dwarf2.def include/filenames.h
        include/hashtab.h include/ansidecl.h)
    set(supcxx eh_personality.cc eh_alloc.cc eh_terminate.cc eh_catch.cc eh_ptr.cc
        unwind-cxx.h eh_term_handler.h eh_atomics.h)
    list(TRANSFORM supcxx PREPEND libstdc++-v3/libsupc++/)
    set(members ${libgcc} ${supcxx})
    list(TRANSFORM members PREPEND ${top}/ OUTPUT_VARIABLE archived)
    list(TRANSFORM members PREPEND ${dir}/src/ OUTPUT_VARIABLE unpacked)
    add_custom_command(OUTPUT ${unpacked}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/src
        COMMAND tar -xJf ${tarball} -C ${dir}/src --strip-components=1 ${archived}
        COMMAND touch ${unpacked}
        DEPENDS ${tarball} VERBATIM)

    # What a configured GCC tree would give libgcc; the target's own parameters come from
    # the compiler itself (-fbuilding-libgcc).
    file(WRITE ${dir}/include/tconfig.h "#define USED_FOR_TARGET\n")
    file(WRITE ${dir}/include/tm.h "#define DWARF_REG_TO_UNWIND_COLUMN(REGNO) (REGNO)\n")
    file(WRITE ${dir}/include/libgcc_tm.h "")
    file(WRITE ${dir}/include/gthr-default.h "#include \"config/i386/gthr-win32.h\"\n")
    file(WRITE ${dir}/include/md-unwind-support.h "#include \"config/i386/w32-unwind.h\"\n")

    set(sources ${unpacked})
    list(FILTER sources INCLUDE REGEX "\\.cc?$")
    add_library(${target}_eh OBJECT ${sources})
    target_include_directories(${target}_eh PRIVATE ${dir}/include ${dir}/src/libgcc
        ${dir}/src/gcc ${dir}/src/include ${dir}/src/libstdc++-v3/libsupc++)
    # Built as GCC builds them; their warnings are the compiler's business, not ours.
    target_compile_options(${target}_eh PRIVATE -w
        $<$<COMPILE_LANGUAGE:C>:-fbuilding-libgcc -fexceptions -fnon-call-exceptions>
        $<$<COMPILE_LANGUAGE:CXX>:-fno-implicit-templates>)
    target_compile_definitions(${target}_eh PRIVATE $<$<COMPILE_LANGUAGE:C>:IN_GCC IN_LIBGCC2>)
    set_target_properties(${target}_eh PROPERTIES CXX_STANDARD 17 CXX_EXTENSIONS ON)
    # Ahead of the archives on the link line, so their copies are never pulled in.
    target_sources(${target} INTERFACE $<TARGET_OBJECTS:${target}_eh>)
endfunction()
