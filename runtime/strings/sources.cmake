set(STRINGS_CORE_SOURCES managed_strings.cpp string_functions.cpp)
set(STRINGS_WIN_SOURCES text_conversion_win.cpp)
