// The export dialog's status grid: one row per kind being moved (its rows in the source, already
// in the books, sent, accepted, rejected, time) and a last row with the totals; each kind keeps
// the rejections told of it, for the list a double-click opens.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <QAbstractTableModel>

#include <lirvo/feed_run.h>

class StatusModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  // A rejected master or document: its VoucherID or name, and the reason.
  using Rejection = std::pair<std::string, std::string>;

  // Starts over with the kinds of a new run, every figure zero.
  void Reset(const std::vector<const lirvo::source::Kind*>& kinds);
  // Takes the latest figures, one per kind of the run (the grid's rows become those kinds), and
  // the rejections told since the last update.
  void Update(const std::vector<lirvo::feed::KindStatus>& kinds,
              const std::vector<lirvo::feed::KindRejection>& rejected);

  // The rejections of the kind on `row`; none for the totals row.
  const std::vector<Rejection>& RejectionsAt(int row) const;
  // The kind's label on `row` ("Totals" for the last).
  QString LabelAt(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Row {
    lirvo::feed::KindStatus status;
    std::vector<Rejection> rejections;
  };
  lirvo::feed::KindStatus Totals() const;

  std::vector<Row> rows_;
  // Rejections of no kind (a Vouchers row whose type names none, a line of no voucher): counted
  // and listed on the totals row.
  std::vector<Rejection> unkinded_;
};
