#include "core/check_tree.h"

#include <gtest/gtest.h>

namespace dunmore::core {
namespace {

// root > data > {db1 > {Tables > {t1 > Keys, t2 > Keys}, Views > {v1}}, db2 > {Tables > {t3 > Keys}}}
struct Sample {
    CheckTree tree;
    CheckTree::NodeId root, data, db1, tables1, t1, k1, t2, k2, views, v1, db2, tables2, t3, k3;
    Sample() {
        root = tree.insertNode(CheckTree::kNone, "MYSQL database", -1);
        data = tree.insertNode(root, "/data/", -1);
        db1 = tree.insertNode(data, "db1", -1);
        tables1 = tree.insertNode(db1, "Tables", -1);
        t1 = tree.insertNode(tables1, "t1", 1);
        k1 = tree.insertNode(t1, "Keys", -2, 2);
        t2 = tree.insertNode(tables1, "t2", 2);
        k2 = tree.insertNode(t2, "Keys", -2, 2);
        views = tree.insertNode(db1, "Views", -4, 15);
        v1 = tree.insertNode(views, "v1", 1);
        db2 = tree.insertNode(data, "db2", -1);
        tables2 = tree.insertNode(db2, "Tables", -1);
        t3 = tree.insertNode(tables2, "t3", 3);
        k3 = tree.insertNode(t3, "Keys", -2, 2);
    }
    std::vector<CheckTree::NodeId> checkedWalk() const {
        std::vector<CheckTree::NodeId> out;
        for (auto n = tree.firstCheckedNode(); n != CheckTree::kNone; n = tree.nextCheckedNode(n))
            out.push_back(n);
        return out;
    }
};

TEST(CheckTree, CheckingADatabaseChecksItsSubtreeAndTheWalkStartsThere) {
    Sample s;
    s.tree.setCheck(s.db1, true);
    for (auto n : {s.db1, s.tables1, s.t1, s.k1, s.t2, s.k2, s.views, s.v1}) EXPECT_TRUE(s.tree.isChecked(n)) << n;
    EXPECT_FALSE(s.tree.isChecked(s.root));
    EXPECT_FALSE(s.tree.isChecked(s.data));
    EXPECT_EQ(s.tree.checkState(s.data), CheckTree::CheckState::PartlyChecked);
    const std::vector<CheckTree::NodeId> expected = {s.db1, s.tables1, s.t1, s.k1, s.t2, s.k2, s.views, s.v1};
    EXPECT_EQ(s.checkedWalk(), expected);
}

TEST(CheckTree, EveryDatabaseCheckedMakesTheRootFirst) {
    Sample s;
    s.tree.setCheck(s.db1, true);
    s.tree.setCheck(s.db2, true);
    EXPECT_TRUE(s.tree.isChecked(s.root));
    EXPECT_EQ(s.tree.firstCheckedNode(), s.root);
    EXPECT_EQ(s.checkedWalk().size(), s.tree.size());
}

TEST(CheckTree, UncheckingOneTableMakesAncestorsPartlyChecked) {
    Sample s;
    s.tree.setCheck(s.root, true);
    s.tree.setCheck(s.t2, false);
    EXPECT_FALSE(s.tree.isChecked(s.k2));
    for (auto n : {s.tables1, s.db1, s.data, s.root}) {
        EXPECT_FALSE(s.tree.isChecked(n)) << n;
        EXPECT_EQ(s.tree.checkState(n), CheckTree::CheckState::PartlyChecked) << n;
    }
    EXPECT_EQ(s.tree.firstCheckedNode(), s.t1);
    // Checking it again restores the whole tree.
    s.tree.setCheck(s.t2, true);
    EXPECT_TRUE(s.tree.isChecked(s.root));
}

TEST(CheckTree, LeafCheckCompletesParentsUpward) {
    Sample s;
    s.tree.setCheck(s.k3, true);
    EXPECT_TRUE(s.tree.isChecked(s.t3));
    EXPECT_TRUE(s.tree.isChecked(s.tables2));
    EXPECT_TRUE(s.tree.isChecked(s.db2));
    EXPECT_FALSE(s.tree.isChecked(s.data));
    EXPECT_EQ(s.tree.firstCheckedNode(), s.db2);
}

TEST(CheckTree, DisabledNodesAndDisabledTreeChangeNothing) {
    Sample s;
    s.tree.setNodeDisabled(s.t2, true);
    s.tree.setCheck(s.t2, true);
    EXPECT_FALSE(s.tree.node(s.t2).checked);
    s.tree.enableTree(false);
    s.tree.setCheck(s.db1, true);
    EXPECT_FALSE(s.tree.isChecked(s.db1));
    s.tree.enableTree(true);
    s.tree.setCheck(s.db2, true);
    EXPECT_TRUE(s.tree.isChecked(s.db2));
}

TEST(CheckTree, DeleteAllNodesEndsBothWalks) {
    Sample s;
    s.tree.setCheck(s.root, true);
    s.tree.deleteAllNodes();
    EXPECT_EQ(s.tree.firstCheckedNode(), CheckTree::kNone);
    EXPECT_EQ(s.tree.nextCheckedNode(s.t1), CheckTree::kNone);
    EXPECT_EQ(s.tree.size(), 0u);
}

}  // namespace
}  // namespace dunmore::core
