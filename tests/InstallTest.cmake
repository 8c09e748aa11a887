# cmake -DBUILD=dir -DSOURCE=dir -DWORK=dir -DPYTHON_DIR=lib/python3.X/dist-packages -P InstallTest.cmake
# (a Windows build: -DTOOLCHAIN=file -DEMULATOR=runner instead of PYTHON_DIR)
# Installs the build into a fresh prefix, then builds and runs an outside project against it, once
# through find_package(rcnet) and once through pkg-config.
file(REMOVE_RECURSE "${WORK}")
set(prefix "${WORK}/prefix")
function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT code EQUAL 0)
        message(FATAL_ERROR "failed (${code}): ${ARGN}\n${out}\n${err}")
    endif()
    message("${out}")
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD}" --prefix "${prefix}")
foreach(file include/rcnet.h lib/cmake/rcnet/rcnetConfig.cmake lib/pkgconfig/rcnet.pc)
    if(NOT EXISTS "${prefix}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# A Windows build (-DTOOLCHAIN=file -DEMULATOR=runner): the DLL in bin, its import library in lib, no
# Linux pieces; the consumer cross-built through find_package and run beside the installed DLL.
if(TOOLCHAIN)
    foreach(file bin/rcnet.dll lib/rcnet.dll.a include/rcnet_loader.h)
        if(NOT EXISTS "${prefix}/${file}")
            message(FATAL_ERROR "not installed: ${file}")
        endif()
    endforeach()
    file(GLOB linux_only "${prefix}/lib/python*" "${prefix}/lib/*.so*" "${prefix}/bin/rcnet")
    if(linux_only)
        message(FATAL_ERROR "installed for Windows but Linux-only: ${linux_only}")
    endif()
    # rcnet_DIR, since the toolchain limits package searches to the cross root.
    run(${CMAKE_COMMAND} -S "${SOURCE}/tests/install" -B "${WORK}/consumer" -G Ninja
        "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}" "-Drcnet_DIR=${prefix}/lib/cmake/rcnet")
    run(${CMAKE_COMMAND} --build "${WORK}/consumer")
    file(COPY "${prefix}/bin/rcnet.dll" DESTINATION "${WORK}/consumer")
    execute_process(COMMAND "${EMULATOR}" ./consumer.exe . WORKING_DIRECTORY "${WORK}/consumer"
        RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT code EQUAL 0)
        message(FATAL_ERROR "the consumer failed (${code}):\n${out}\n${err}")
    endif()
    message("${out}")
    return()
endif()

run(${CMAKE_COMMAND} -S "${SOURCE}/tests/install" -B "${WORK}/consumer" -G Ninja "-DCMAKE_PREFIX_PATH=${prefix}")
run(${CMAKE_COMMAND} --build "${WORK}/consumer")
run("${WORK}/consumer/consumer" "${WORK}")

# pkg-config, as a Makefile-based project would use it.
set(ENV{PKG_CONFIG_PATH} "${prefix}/lib/pkgconfig")
execute_process(COMMAND pkg-config --cflags --libs rcnet OUTPUT_VARIABLE flags RESULT_VARIABLE code
    OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT code EQUAL 0)
    message(FATAL_ERROR "pkg-config does not find rcnet")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(cc "${SOURCE}/examples/linked_host.c" ${flags} -lm "-Wl,-rpath,${prefix}/lib" -o "${WORK}/pkgconfig_host")
run("${WORK}/pkgconfig_host" "${WORK}")

# The tool installs with the library and runs from the prefix.
run("${prefix}/bin/rcnet" --version)

# Python finds the installed library without RCNET_LIBRARY: through the note cmake --install wrote, and,
# installed with pip from the tree, through the copy bundled into the package.
set(check "import rcnet, sys; rcnet.library(); n = rcnet.Network(1, 1); n.add_neurons(3); \
assert n.neuron_count == 3; print(rcnet.library_path())")
run(${CMAKE_COMMAND} -E env --unset=RCNET_LIBRARY "PYTHONPATH=${prefix}/${PYTHON_DIR}"
    /usr/bin/python3 -c "${check}")
# With the prefix /usr/local that directory is on Debian's own Python path: no PYTHONPATH needed there.
run(/usr/bin/python3 -c "import sys; assert '/usr/local/${PYTHON_DIR}' in sys.path, sys.path")
run(${CMAKE_COMMAND} -E env "RCNET_BUNDLE_LIBRARY=${BUILD}/librcnet.so" /usr/bin/python3 -m pip install -q
    --no-build-isolation --no-deps --no-warn-script-location --target "${WORK}/pip" "${SOURCE}/python")
run(${CMAKE_COMMAND} -E env --unset=RCNET_LIBRARY "PYTHONPATH=${WORK}/pip" /usr/bin/python3 -c "${check}")
