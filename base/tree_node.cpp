#include "base/tree_node.h"

#include <atomic>
#include <new>

#include "base/memory.h"

namespace quillon {

namespace {

// A children list grows by 5 at first and then by its own size (as every pointer list of the
// library does), so a flood of siblings costs linear time; the step stops doubling here.
constexpr uint32_t kFirstChildIncrement = 5;
constexpr uint32_t kMaxChildIncrement = 100000;

std::atomic<uint32_t> g_nextDocumentSerial{0};

bool NeedsAttributePrefix(std::string_view name) {
  if (name.empty()) return false;
  char first = name.front();
  return (first >= '0' && first <= '9') || first == '-' || first == '.';
}

bool IsTokenChar(char c) {
  auto b = static_cast<uint8_t>(c);
  return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '!' ||
         b == '-' || b == '.' || b == ':' || b == '_' || b >= 0x80;
}

bool IsTokenText(std::string_view text) {
  for (char c : text) {
    if (!IsTokenChar(c)) return false;
  }
  return true;
}

// Whether the name is stored as it is: nothing to put in front, nothing to filter out.
bool IsStoredForm(std::string_view name) {
  return !name.empty() && !NeedsAttributePrefix(name) && IsTokenText(name);
}

// Stores over an object that is ending its life are dead to the optimiser; a volatile store
// keeps the mark that later validity checks read.
void MarkDestroyed(uint8_t& mark, uint8_t value) { *static_cast<volatile uint8_t*>(&mark) = value; }

}  // namespace

bool XmlAttributes::add(std::string_view name, std::string_view value) {
  if (name.size() > INT32_MAX || value.size() > INT32_MAX) return false;
  int lengthCount = lengths_.count();
  uint32_t textLength = texts_.length();
  if (lengths_.append(static_cast<int32_t>(name.size())) &&
      lengths_.append(static_cast<int32_t>(value.size())) && texts_.append(name) &&
      texts_.append(value)) {
    return true;
  }
  while (lengths_.count() > lengthCount) lengths_.removeAt(lengths_.count() - 1);
  texts_.shorten(texts_.length() - textLength);
  return false;
}

bool XmlAttributes::find(std::string_view name, std::string_view& value) const {
  bool found = false;
  forEach([&](const Attribute& attribute) {
    if (attribute.name != name) return true;
    value = attribute.value;
    found = true;
    return false;
  });
  return found;
}

void XmlAttributes::removeAll(std::string_view name) {
  std::string_view unused;
  if (!find(name, unused)) return;
  // One pass that keeps the other pairs, so that removing many is still linear.
  StringBuffer kept(StringBuffer::Increment{1});
  ExtIntArray keptLengths;
  bool complete = true;
  forEach([&](const Attribute& attribute) {
    if (attribute.name == name) return true;
    complete = keptLengths.append(static_cast<int32_t>(attribute.name.size())) &&
               keptLengths.append(static_cast<int32_t>(attribute.value.size())) &&
               kept.append(attribute.name) && kept.append(attribute.value);
    return complete;
  });
  if (!complete || !texts_.assign(kept)) return;  // out of memory: the set stays as it was
  lengths_.clear();
  for (int i = 0; i < keptLengths.count(); ++i) lengths_.append(keptLengths.get(i));
}

TreeNode::TreeNode() = default;

TreeNode* TreeNode::Create(std::string_view tag) {
  TreeNode* node = new (std::nothrow) TreeNode();
  if (node && !node->setTag(tag)) {
    delete node;
    return nullptr;
  }
  return node;
}

TreeNode::~TreeNode() {
  // Walk down to a childless descendant, destroy it, go back to its parent: every node is
  // destroyed only once it has no children left, so no destructor below this one recurses.
  TreeNode* node = this;
  while (true) {
    if (node->childCount_ > 0) {
      node = node->children_[node->childCount_ - 1];
      continue;
    }
    if (node == this) break;
    TreeNode* parent = node->parent_;
    --parent->childCount_;
    delete node;
    node = parent;
  }
  FreeBytes(children_);
  children_ = nullptr;
  MarkDestroyed(mark_, kDestroyed);
}

bool TreeNode::setTag(std::string_view text) {
  if (IsTokenText(text)) return tag_.assign(text);  // the usual case: nothing to filter
  StringBuffer filtered(StringBuffer::Increment{1});
  if (!filtered.append(text)) return false;  // the tag stays as it was
  filtered.keepTokenChars();
  return tag_.assign(filtered);
}

std::string_view TreeNode::content() const { return content_.view(); }

bool TreeNode::setContent(std::string_view text) { return content_.assign(text); }

bool TreeNode::appendContent(std::string_view text) { return content_.append(text); }

bool TreeNode::StoredAttributeName(std::string_view name, StringBuffer& out) {
  out.clear();
  if ((NeedsAttributePrefix(name) && !out.appendChar('A')) || !out.append(name)) return false;
  out.keepTokenChars();
  return !out.isEmpty();
}

bool TreeNode::addAttribute(std::string_view name, std::string_view value) {
  if (!attributes_) attributes_.reset(new (std::nothrow) XmlAttributes());
  if (!attributes_) return false;
  if (IsStoredForm(name)) return attributes_->add(name, value);  // the usual case: no copy
  StringBuffer stored(StringBuffer::Increment{1});
  return StoredAttributeName(name, stored) && attributes_->add(stored.view(), value);
}

bool TreeNode::replaceAttribute(std::string_view name, std::string_view value) {
  StringBuffer stored(StringBuffer::Increment{1});
  if (!StoredAttributeName(name, stored)) return false;
  removeAttributes(stored.view());
  return addAttribute(stored.view(), value);
}

bool TreeNode::attribute(std::string_view name, std::string_view& value) const {
  return attributes_ && attributes_->find(name, value);
}

void TreeNode::removeAttributes(std::string_view name) {
  if (attributes_) attributes_->removeAll(name);
}

bool TreeNode::growChildren() {
  if (childCount_ < childCapacity_) return true;
  bool first = children_ == nullptr;
  // Siblings tend to look alike (cookie after cookie): a new list takes the previous one's size.
  uint64_t room = !first ? uint64_t{childCapacity_} + childIncrement_
                  : previous_ && previous_->childCount_ ? previous_->childCount_
                                                        : kDefaultChildRoom;
  if (room * sizeof(TreeNode*) > UINT32_MAX) return false;
  auto* block = static_cast<TreeNode**>(ReallocBytes(children_, room * sizeof(TreeNode*)));
  if (!block) return false;
  children_ = block;
  childCapacity_ = static_cast<uint32_t>(room);
  if (first) {
    childIncrement_ = kFirstChildIncrement;
  } else if (childIncrement_ < kMaxChildIncrement) {
    childIncrement_ = childCapacity_ < kMaxChildIncrement ? childCapacity_ : kMaxChildIncrement;
  }
  return true;
}

bool TreeNode::appendChild(TreeNode* child) {
  if (child == nullptr || child == this || child->parent_ != nullptr) return false;
  // A node with children could be an ancestor of this one; appending it would make a cycle.
  if (child->childCount_ > 0) {
    for (TreeNode* up = parent_; up; up = up->parent_) {
      if (up == child) return false;
    }
  }
  if (!growChildren()) return false;
  TreeInfo* old = child->document_;
  if (old && old != document_ && old->root() == child && old->handleCount() == 0) {
    old->releaseRoot();
    delete old;
  }
  for (TreeNode* node = child; node; node = NextInTree(node, child)) node->document_ = document_;
  TreeNode* last = childCount_ ? children_[childCount_ - 1] : nullptr;
  child->previous_ = last;
  child->next_ = nullptr;
  if (last) last->next_ = child;
  child->parent_ = this;
  children_[childCount_++] = child;
  return true;
}

TreeNode* TreeNode::NextInTree(const TreeNode* node, const TreeNode* top) {
  if (node->childCount_ > 0) return node->children_[0];
  while (node != top) {
    if (node->next_) return node->next_;
    node = node->parent_;
  }
  return nullptr;
}

TreeInfo* TreeInfo::Create(TreeNode* root) {
  TreeInfo* document = new (std::nothrow) TreeInfo();
  if (!document) return nullptr;
  document->documentSerial_ = ++g_nextDocumentSerial;
  document->root_ = root;
  for (TreeNode* node = root; node; node = TreeNode::NextInTree(node, root)) {
    node->setDocument(document);
  }
  return document;
}

TreeInfo::~TreeInfo() {
  delete root_;
  delete declaration_;
  stylesheets_.removeAllAndDelete();
  MarkDestroyed(mark_, kDestroyed);
}

TreeNode* TreeInfo::releaseRoot() {
  TreeNode* root = root_;
  root_ = nullptr;
  return root;
}

void TreeInfo::setDeclaration(TreeNode* declaration) {
  if (declaration == declaration_) return;
  delete declaration_;
  declaration_ = declaration;
  if (declaration_) declaration_->setDocument(this);
}

}  // namespace quillon
