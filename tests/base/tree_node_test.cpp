// The tree's own rules: how children lists grow and which nodes may be appended where.
#include "base/tree_node.h"

#include <memory>

#include <gtest/gtest.h>

namespace quillon {
namespace {

struct Tree {
  Tree() : document(TreeInfo::Create(TreeNode::Create("root"))) {}
  TreeNode* root() { return document->root(); }
  TreeNode* append(TreeNode* parent, const char* tag = "n") {
    TreeNode* child = TreeNode::Create(tag);
    EXPECT_TRUE(parent->appendChild(child));
    return child;
  }
  std::unique_ptr<TreeInfo> document;
};

TEST(TreeNodeTest, ChildrenListStartsAtThePreviousSiblingsSizeThenGrows) {
  struct Case {
    uint32_t previousSiblingChildren;  // 0: the parent has no previous sibling with children
    uint32_t children;
    uint32_t room;
  } cases[] = {
      {0, 1, 5}, {0, 5, 5}, {0, 6, 10}, {0, 11, 20}, {0, 21, 40},
      {12, 1, 12}, {12, 13, 17}, {12, 18, 34},
  };
  for (const Case& c : cases) {
    Tree tree;
    TreeNode* previous = tree.append(tree.root());
    for (uint32_t i = 0; i < c.previousSiblingChildren; ++i) tree.append(previous);
    TreeNode* parent = tree.append(tree.root());
    for (uint32_t i = 0; i < c.children; ++i) tree.append(parent);
    EXPECT_EQ(parent->childRoom(), c.room)
        << c.previousSiblingChildren << " then " << c.children << " children";
    EXPECT_EQ(parent->childCount(), c.children);
  }
}

TEST(TreeNodeTest, AppendRefusesNodesThatAlreadyHaveAPlace) {
  Tree tree;
  TreeNode* child = tree.append(tree.root());
  TreeNode* grandchild = tree.append(child);
  EXPECT_FALSE(grandchild->appendChild(grandchild));
  EXPECT_FALSE(tree.root()->appendChild(grandchild));  // has a parent: not moved
  EXPECT_FALSE(grandchild->appendChild(tree.root()));  // would make a cycle
  EXPECT_EQ(grandchild->parent(), child);
  EXPECT_EQ(tree.root()->childCount(), 1u);
}

TEST(TreeNodeTest, AppendedSubtreeJoinsTheParentsDocument) {
  Tree tree;
  Tree other;
  TreeNode* leaf = other.append(other.append(other.root()));
  TreeNode* moved = other.document->releaseRoot();
  other.document.reset(TreeInfo::Create(moved));
  other.document.release();  // the append below destroys the document the subtree leaves
  ASSERT_TRUE(tree.root()->appendChild(moved));
  for (TreeNode* node = moved; node; node = TreeNode::NextInTree(node, moved)) {
    EXPECT_EQ(node->document(), tree.document.get());
  }
  EXPECT_EQ(TreeNode::NextInTree(leaf, tree.root()), nullptr);
}

}  // namespace
}  // namespace quillon
