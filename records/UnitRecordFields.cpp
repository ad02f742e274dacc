#include "records/UnitRecordFields.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fwup {

namespace {

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };

} // namespace

std::optional<std::string> FieldText(const UnitRecord& record, const UnitRecordField& field) {
    return std::visit(
        Overloaded{
            [&](std::string UnitRecord::*p) -> std::optional<std::string> { return record.*p; },
            [&](std::optional<std::string> UnitRecord::*p) { return record.*p; },
            [&](int UnitRecord::*p) -> std::optional<std::string> {
                return std::to_string(record.*p);
            },
            [&](int64_t UnitRecord::*p) -> std::optional<std::string> {
                return std::to_string(record.*p);
            },
            [&](double UnitRecord::*p) -> std::optional<std::string> {
                char szText[32];
                std::snprintf(szText, sizeof szText, "%.3f", record.*p);
                return szText;
            }},
        field.member);
}

void SetFieldText(UnitRecord& record, const UnitRecordField& field,
                  const std::optional<std::string>& optText) {
    const char* pszText = optText ? optText->c_str() : "0";
    std::visit(
        Overloaded{[&](std::string UnitRecord::*p) { record.*p = optText.value_or(""); },
                   [&](std::optional<std::string> UnitRecord::*p) { record.*p = optText; },
                   [&](int UnitRecord::*p) {
                       record.*p = static_cast<int>(std::strtoll(pszText, nullptr, 10));
                   },
                   [&](int64_t UnitRecord::*p) { record.*p = std::strtoll(pszText, nullptr, 10); },
                   [&](double UnitRecord::*p) { record.*p = std::strtod(pszText, nullptr); }},
        field.member);
}

bool IsNumberField(const UnitRecordField& field) {
    return !std::holds_alternative<std::string UnitRecord::*>(field.member) &&
           !IsOptionalField(field);
}

bool IsOptionalField(const UnitRecordField& field) {
    return std::holds_alternative<std::optional<std::string> UnitRecord::*>(field.member);
}

bool IsUtcTimeField(const UnitRecordField& field) {
    return std::strcmp(field.pszSqlType, "TIMESTAMPTZ") == 0;
}

} // namespace fwup
