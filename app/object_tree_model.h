// The Qt face of the core object tree. It keeps a mirror of the tree's shape
// (items, parents, order, texts, data) that it updates only on the window
// thread, from the changes the core tree reported, in the order they
// happened; the check states are read from the core tree, which decides the
// linked states. A check-box click goes back to the core (ToggleChecked).
#pragma once

#include <QAbstractItemModel>
#include <unordered_map>
#include <vector>

#include "core/object_tree.h"

namespace veltrane {

class ObjectTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  // The role that carries an item's TreeItemId.
  static constexpr int kItemIdRole = Qt::UserRole + 1;

  explicit ObjectTreeModel(ObjectTree& tree, QObject* parent = nullptr);

  // Applies one change reported by the core tree (window thread only).
  void Apply(const TreeChange& change);

  QModelIndex IndexOf(TreeItemId id) const;
  TreeItemId IdOf(const QModelIndex& index) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // The core asked for the item to be expanded.
  void expandRequested(const QModelIndex& index);

 private:
  struct Node {
    TreeItemId parent = kTreeRoot;
    std::vector<TreeItemId> children;
    QString text;
    int32_t data = 0;
  };
  const Node* Find(TreeItemId id) const;
  int RowOf(TreeItemId id) const;
  Qt::CheckState CheckState(TreeItemId id) const;
  bool AnyDescendantChecked(TreeItemId id) const;
  void AnnounceChecks(TreeItemId under);

  ObjectTree& tree_;
  std::unordered_map<TreeItemId, Node> nodes_;  // nodes_[kTreeRoot] is the invisible root
};

}  // namespace veltrane
