# The transfer benchmarks (bench/transfer.py, run by bench/run): the peer of
# ferobrixlan-cli send that does only what a send pass must.
add_executable(bare_send_loop ${CMAKE_CURRENT_LIST_DIR}/bare_send_loop.cpp)
