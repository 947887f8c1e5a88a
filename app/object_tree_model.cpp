#include "app/object_tree_model.h"

#include "app/icons.h"

namespace veltrane {

ObjectTreeModel::ObjectTreeModel(ObjectTree& tree, QObject* parent) : QAbstractItemModel(parent), tree_(tree) {
  nodes_[kTreeRoot] = Node{};
}

const ObjectTreeModel::Node* ObjectTreeModel::Find(TreeItemId id) const {
  auto it = nodes_.find(id);
  return it == nodes_.end() ? nullptr : &it->second;
}

int ObjectTreeModel::RowOf(TreeItemId id) const {
  const Node* node = Find(id);
  if (!node || id == kTreeRoot) return -1;
  const Node* parent = Find(node->parent);
  if (!parent) return -1;
  for (size_t i = 0; i < parent->children.size(); ++i)
    if (parent->children[i] == id) return static_cast<int>(i);
  return -1;
}

void ObjectTreeModel::Apply(const TreeChange& change) {
  switch (change.kind) {
    case TreeChange::Kind::Cleared:
      beginResetModel();
      nodes_.clear();
      nodes_[kTreeRoot] = Node{};
      endResetModel();
      break;
    case TreeChange::Kind::Added: {
      Node* parent = nodes_.count(change.parent) ? &nodes_[change.parent] : nullptr;
      if (!parent || nodes_.count(change.item)) break;
      const int row = change.position == TreePosition::First ? 0 : static_cast<int>(parent->children.size());
      beginInsertRows(IndexOf(change.parent), row, row);
      Node node;
      node.parent = change.parent;
      node.text = QString::fromStdString(change.text);
      nodes_[change.item] = std::move(node);
      auto& siblings = nodes_[change.parent].children;
      siblings.insert(siblings.begin() + row, change.item);
      endInsertRows();
      // The parent's linked check state may have changed with a new child.
      if (change.parent != kTreeRoot) {
        const QModelIndex p = IndexOf(change.parent);
        emit dataChanged(p, p, {Qt::CheckStateRole});
      }
      break;
    }
    case TreeChange::Kind::DataSet: {
      auto it = nodes_.find(change.item);
      if (it == nodes_.end()) break;
      it->second.data = change.data;
      const QModelIndex i = IndexOf(change.item);
      emit dataChanged(i, i, {Qt::DecorationRole});
      // The children's icons follow the group's data.
      if (!it->second.children.empty())
        emit dataChanged(index(0, 0, i), index(static_cast<int>(it->second.children.size()) - 1, 0, i),
                         {Qt::DecorationRole});
      break;
    }
    case TreeChange::Kind::Expanded:
      if (Find(change.item)) emit expandRequested(IndexOf(change.item));
      break;
    case TreeChange::Kind::ChecksChanged:
      AnnounceChecks(kTreeRoot);
      break;
  }
}

void ObjectTreeModel::AnnounceChecks(TreeItemId under) {
  const Node* node = Find(under);
  if (!node || node->children.empty()) return;
  const QModelIndex parent = IndexOf(under);
  emit dataChanged(index(0, 0, parent), index(static_cast<int>(node->children.size()) - 1, 0, parent),
                   {Qt::CheckStateRole});
  for (TreeItemId child : node->children) AnnounceChecks(child);
}

QModelIndex ObjectTreeModel::IndexOf(TreeItemId id) const {
  if (id == kTreeRoot) return {};
  const int row = RowOf(id);
  return row < 0 ? QModelIndex() : createIndex(row, 0, static_cast<quintptr>(id));
}

TreeItemId ObjectTreeModel::IdOf(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return kTreeRoot;
  return static_cast<TreeItemId>(index.internalId());
}

QModelIndex ObjectTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  const Node* node = Find(IdOf(parent));
  if (!node || static_cast<size_t>(row) >= node->children.size()) return {};
  return createIndex(row, 0, static_cast<quintptr>(node->children[row]));
}

QModelIndex ObjectTreeModel::parent(const QModelIndex& child) const {
  const Node* node = Find(IdOf(child));
  if (!node || node->parent == kTreeRoot) return {};
  return IndexOf(node->parent);
}

int ObjectTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  const Node* node = Find(IdOf(parent));
  return node ? static_cast<int>(node->children.size()) : 0;
}

int ObjectTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool ObjectTreeModel::AnyDescendantChecked(TreeItemId id) const {
  const Node* node = Find(id);
  if (!node) return false;
  for (TreeItemId child : node->children)
    if (tree_.IsChecked(child) || AnyDescendantChecked(child)) return true;
  return false;
}

Qt::CheckState ObjectTreeModel::CheckState(TreeItemId id) const {
  if (tree_.IsChecked(id)) return Qt::Checked;
  return AnyDescendantChecked(id) ? Qt::PartiallyChecked : Qt::Unchecked;
}

QVariant ObjectTreeModel::data(const QModelIndex& index, int role) const {
  const TreeItemId id = IdOf(index);
  const Node* node = Find(id);
  if (!node || id == kTreeRoot) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return node->text;
    case Qt::CheckStateRole:
      return CheckState(id);
    case kItemIdRole:
      return QVariant::fromValue<quint32>(id);
    case Qt::DecorationRole: {
      static const QIcon file = MakeIcon(IconKind::DatabaseFile), group = MakeIcon(IconKind::Group),
                         table = MakeIcon(IconKind::Table), index = MakeIcon(IconKind::Index),
                         view = MakeIcon(IconKind::View), trigger = MakeIcon(IconKind::Trigger);
      if (node->parent == kTreeRoot) return file;
      if (node->data <= -2 && node->data >= -5 && Find(node->parent) && Find(node->parent)->parent == kTreeRoot)
        return group;
      switch (Find(node->parent) ? Find(node->parent)->data : 0) {
        case -2:
          return table;
        case -3:
          return index;
        case -4:
          return view;
        case -5:
          return trigger;
        default:
          return group;
      }
    }
    default:
      return {};
  }
}

bool ObjectTreeModel::setData(const QModelIndex& index, const QVariant&, int role) {
  if (role != Qt::CheckStateRole) return false;
  const TreeItemId id = IdOf(index);
  if (!Find(id) || id == kTreeRoot) return false;
  // The core decides the linked states; its change report repaints the boxes.
  tree_.ToggleChecked(id);
  return true;
}

Qt::ItemFlags ObjectTreeModel::flags(const QModelIndex& index) const {
  const TreeItemId id = IdOf(index);
  if (!Find(id) || id == kTreeRoot) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
  if (tree_.IsEnabled(id)) f |= Qt::ItemIsUserCheckable;
  return f;
}

}  // namespace veltrane
