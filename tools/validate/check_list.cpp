#include "tools/validate/check_list.h"

#include <algorithm>

namespace validate {

const std::vector<check_info>& all_checks()
{
    static const std::vector<check_info> checks = [] {
        std::vector<check_info> list = {
#define VALIDATE_CHECK(body, name, needs, description) {name, description, needs, #body},
#include "tools/validate/check_registry.inc"
#undef VALIDATE_CHECK
        };
        for (std::size_t i = 0; i < list.size(); ++i) list[i].index = i;
        return list;
    }();
    return checks;
}

std::vector<const check_info*> sharing_body(const check_info& check, const std::vector<const check_info*>& chosen)
{
    std::vector<const check_info*> run = {&check};
    for (const check_info* other : chosen)
        if (other != &check && other->body == check.body) run.push_back(other);
    return run;
}

std::string_view group_of(std::string_view name) noexcept
{
    return name.substr(0, name.find('.'));
}

const check_info* find_check(std::string_view name) noexcept
{
    for (const check_info& check : all_checks())
        if (check.name == name) return &check;
    return nullptr;
}

namespace {

// Marks in `chosen` the checks that the comma-separated `list` names.
bool mark(std::string_view list, std::vector<bool>& chosen, const char* option, std::string& error)
{
    const std::vector<check_info>& checks = all_checks();
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        bool found = false;
        for (std::size_t i = 0; i < checks.size(); ++i) {
            if (checks[i].name == item || group_of(checks[i].name) == item) {
                chosen[i] = true;
                found = true;
            }
        }
        if (!found) {
            error = std::string(option) + ": no check or group named \"" + std::string(item) + "\" (--list shows them)";
            return false;
        }
    }
    return true;
}

}  // namespace

bool select_checks(std::string_view only, std::string_view skip, std::vector<const check_info*>& selected,
                   std::string& error)
{
    const std::vector<check_info>& checks = all_checks();
    std::vector<bool> included(checks.size(), only.empty());
    std::vector<bool> excluded(checks.size(), false);
    if (!mark(only, included, "--only", error) || !mark(skip, excluded, "--skip", error)) return false;
    selected.clear();
    for (std::size_t i = 0; i < checks.size(); ++i)
        if (included[i] && !excluded[i]) selected.push_back(&checks[i]);
    if (selected.empty()) {
        error = "--only and --skip leave no check to run";
        return false;
    }
    return true;
}

}  // namespace validate
