// Included ahead of every source of qvrc.exe (the build passes -include). The program is built
// without exceptions, but std::string's members come ready-made from the C++ library, which was
// built with them and drags in its whole exception and unwinding runtime (some 200 KiB). The
// library's own switch for checked builds makes each object instantiate what it uses instead,
// without exceptions; cli_runtime_win.cpp supplies the few helpers that would still throw.
#pragma once

#include <bits/c++config.h>

#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1 // basic_string only; every other template as before
