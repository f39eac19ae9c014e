// Writes a tree of TreeNodes as XML text in one fixed layout: CR LF line ends, four spaces of
// indentation per level (never more than 50 levels' worth), escaped text and attribute values
// that leave character references as they are. The walk follows the tree's links, so a deep
// tree costs no stack.
#pragma once

#include "base/string_buffer.h"
#include "base/tree_node.h"

namespace quillon {

// Deepest level that still adds indentation: deeper elements are indented as this one.
inline constexpr uint32_t kMaxIndentLevel = 50;

// Appends node and its subtree to out. When node is its document's root, the XML declaration
// (its "standalone" pseudo-attribute moved to the end), the stylesheet instructions and the
// rest of the prologue come first. False when memory runs out (out then holds a part).
bool SerializeXml(TreeNode& node, StringBuffer& out);

// Whether name (the text between "&" and ";") is one of HTML 4.01's character entities; its
// first letter may be in either case.
bool IsHtmlEntityName(std::string_view name);

}  // namespace quillon
