# Run by cmake --install after the Python package is copied: records where the library went, with the
# prefix of this install (which --prefix may choose only now).
set(location "${CMAKE_INSTALL_PREFIX}/${rcnet_library}")
file(WRITE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${rcnet_python_dir}/rcnet/_location.py"
    "# Written by cmake --install.\nLIBRARY = \"${location}\"\n")
