// Shared helpers of the .x component tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xfile/document.h"

namespace xtest {

// The standard, skinning and extended template blocks, parsed once.
const xfile::TemplateSet& StandardTemplates();

// Parses a whole file (in its own allocation) with the standard templates.
HRESULT Parse(const std::vector<uint8_t>& bytes, xfile::Document& doc, std::string* reason = nullptr);
HRESULT Parse(std::string_view text, xfile::Document& doc, std::string* reason = nullptr);

// A readable rendering of the whole tree: each object's template, name, id
// and members, decoded by walking its template's layout over the packed
// bytes independently of the packer (strings by content). A layout that
// does not use up the packed bytes exactly shows as "LAYOUT MISMATCH".
std::string Describe(const xfile::Document& doc);
std::string Describe(const xfile::Node& node);

std::vector<uint8_t> ReadFile(const std::string& path);

}  // namespace xtest
