# The file writing unit and the receive engine run with close(), fsync() and
# ftruncate() wrapped, so that their failures can be made to happen.
fbx_add_gtest(files_test SOURCES files_test.cpp FileFaults.cpp LIBS fbx_files)
target_link_options(files_test PRIVATE -Wl,--wrap=close -Wl,--wrap=fsync -Wl,--wrap=ftruncate)
