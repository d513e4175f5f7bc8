#include "tools/common/program_arguments.h"

namespace tools {

program_arguments::program_arguments(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) pointers_.push_back(argv[i]);
}

}  // namespace tools
