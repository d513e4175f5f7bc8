#include "tools/common/argument_reader.h"

namespace tools {

bool read_arguments(int argc, const char* const* argv, const std::vector<command_option>& options,
                    const std::function<bool(std::string_view operand, std::string& error)>& operand,
                    std::string& error)
{
    bool options_end = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (options_end) {
            if (!operand(argument, error)) return false;
            continue;
        }
        if (argument == "--") {
            options_end = true;
            continue;
        }
        const command_option* option = nullptr;
        for (const command_option& candidate : options)
            if (candidate.name == argument) option = &candidate;
        if (option == nullptr) {
            if (argument.size() > 1 && argument[0] == '-') {
                error = "unknown option " + std::string(argument);
                return false;
            }
            if (!operand(argument, error)) return false;
            continue;
        }
        const bool takes_value = !option->wants.empty();
        std::string_view value;
        if (takes_value) {
            if (i + 1 >= argc) {
                error = std::string(argument) + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if ((takes_value && value.empty()) || !option->take(value)) {
            error =
                std::string(argument) + " wants " + std::string(option->wants) + ", not \"" + std::string(value) + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace tools
