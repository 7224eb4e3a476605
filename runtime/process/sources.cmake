set(PROCESS_CORE_SOURCES command_line.cpp)
set(PROCESS_WIN_SOURCES parameters_win.cpp memory_blocks_win.cpp requester_win.cpp window_library_win.cpp)
