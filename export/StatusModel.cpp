#include "StatusModel.h"

#include <algorithm>
#include <array>

#include <QFont>

namespace {

constexpr std::array kHeaders{"Item",     "In source", "In books", "Sent",
                              "Accepted", "Rejected",  "Time"};

}  // namespace

void StatusModel::Reset(const std::vector<const lirvo::source::Kind*>& kinds) {
  beginResetModel();
  rows_.clear();
  unkinded_.clear();
  for (const lirvo::source::Kind* kind : kinds) {
    Row row;
    row.status.kind = kind;
    rows_.push_back(std::move(row));
  }
  endResetModel();
}

void StatusModel::Update(const std::vector<lirvo::feed::KindStatus>& kinds,
                         const std::vector<lirvo::feed::KindRejection>& rejected) {
  // The run may add kinds to those asked (the masters documents need): the rows follow its list.
  const bool same = kinds.empty() || (kinds.size() == rows_.size() &&
                                      std::equal(kinds.begin(), kinds.end(), rows_.begin(),
                                                 [](const auto& status, const Row& row) {
                                                   return status.kind == row.status.kind;
                                                 }));
  if (!same) {
    std::vector<Row> rows;
    for (const lirvo::feed::KindStatus& status : kinds) {
      Row row;
      row.status.kind = status.kind;
      for (Row& old : rows_) {
        if (old.status.kind == status.kind) {
          row = std::move(old);
        }
      }
      rows.push_back(std::move(row));
    }
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
  }
  for (const lirvo::feed::KindRejection& rejection : rejected) {
    if (rejection.kind == nullptr) {
      unkinded_.emplace_back(rejection.id, rejection.Told());
    }
  }
  for (Row& row : rows_) {
    for (const lirvo::feed::KindStatus& status : kinds) {
      if (status.kind == row.status.kind) {
        row.status = status;
      }
    }
    for (const lirvo::feed::KindRejection& rejection : rejected) {
      if (rejection.kind == row.status.kind) {
        row.rejections.emplace_back(rejection.id, rejection.Told());
      }
    }
  }
  if (!rows_.empty()) {
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
  }
}

const std::vector<StatusModel::Rejection>& StatusModel::RejectionsAt(int row) const {
  static const std::vector<Rejection> kNone;
  if (row == static_cast<int>(rows_.size())) {
    return unkinded_;
  }
  return row >= 0 && row < static_cast<int>(rows_.size())
             ? rows_[static_cast<std::size_t>(row)].rejections
             : kNone;
}

QString StatusModel::LabelAt(int row) const {
  if (row >= 0 && row < static_cast<int>(rows_.size())) {
    const std::string_view label = rows_[static_cast<std::size_t>(row)].status.kind->label;
    return QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size()));
  }
  return QStringLiteral("Totals");
}

lirvo::feed::KindStatus StatusModel::Totals() const {
  lirvo::feed::KindStatus total;
  total.done = true;
  for (const Row& row : rows_) {
    total.in_source += row.status.in_source;
    total.in_books += row.status.in_books;
    total.sent += row.status.sent;
    total.accepted += row.status.accepted;
    total.rejected += row.status.rejected;
    total.time += row.status.time;
    total.done = total.done && row.status.done;
  }
  total.rejected += static_cast<long>(unkinded_.size());
  return total;
}

int StatusModel::rowCount(const QModelIndex& parent) const {
  // The totals row follows the kinds; an empty grid has none.
  return parent.isValid() || rows_.empty() ? 0 : static_cast<int>(rows_.size()) + 1;
}

int StatusModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(kHeaders.size());
}

QVariant StatusModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) {
    return {};
  }
  const bool totals = index.row() == static_cast<int>(rows_.size());
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(index.column() == 0 ? Qt::AlignLeft | Qt::AlignVCenter
                                                   : Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role == Qt::FontRole && totals) {
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  if (role == Qt::ToolTipRole && !RejectionsAt(index.row()).empty()) {
    return totals ? tr("Double-click to see the rejected rows that are of no kind, and why")
                  : tr("Double-click to see the rejected rows and why");
  }
  if (role != Qt::DisplayRole) {
    return {};
  }
  const lirvo::feed::KindStatus status =
      totals ? Totals() : rows_[static_cast<std::size_t>(index.row())].status;
  switch (index.column()) {
    case 0:
      return LabelAt(index.row());
    case 1:
      return QVariant::fromValue(status.in_source);
    case 2:
      return QVariant::fromValue(status.in_books);
    case 3:
      return QVariant::fromValue(status.sent);
    case 4:
      return QVariant::fromValue(status.accepted);
    case 5:
      return QVariant::fromValue(status.rejected);
    default:
      return QString::number(status.time.count(), 'f', 1) + QStringLiteral(" s");
  }
}

QVariant StatusModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= static_cast<int>(kHeaders.size())) {
    return {};
  }
  return QString::fromUtf8(kHeaders[static_cast<std::size_t>(section)]);
}
