#include "ui/convert_area_unit_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "engine/table_names.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/host/notifier.h"
#include "units/database_conversion.h"

namespace landstat {

CConvertAreaUnitDlg::CConvertAreaUnitDlg(gis::RuralCode* codes, std::string connection,
                                         short db_mode, std::string county, std::string log_path,
                                         QWidget* parent)
    : qt::ModalDialog(kResourceId, parent),
      codes_(codes),
      connection_(std::move(connection)),
      county_(std::move(county)),
      log_path_(std::move(log_path)),
      db_mode_(db_mode) {
  setWindowTitle(QString::fromUtf8("面积单位转换"));
  year_box_ = new QComboBox(this);
  current_unit_ = new QLabel(this);
  unit_box_ = new QComboBox(this);
  for (short unit : {kHectare, kMu, kSquareMetre}) {
    unit_box_->addItem(QString::fromUtf8(UnitText(unit)), unit);
  }
  decimals_box_ = new QSpinBox(this);
  decimals_box_->setRange(0, 6);
  decimals_box_->setValue(ConfiguredDecimals(TargetUnit()));
  ok_button_ = new QPushButton(QString::fromUtf8("确定"), this);
  cancel_button_ = new QPushButton(QString::fromUtf8("取消"), this);
  ok_button_->setDefault(true);

  auto* form = new QFormLayout();
  form->addRow(QString::fromUtf8("统计年度:"), year_box_);
  form->addRow(QString::fromUtf8("当前单位:"), current_unit_);
  form->addRow(QString::fromUtf8("转换为:"), unit_box_);
  form->addRow(QString::fromUtf8("小数位数:"), decimals_box_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(ok_button_);
  buttons->addWidget(cancel_button_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  connect(ok_button_, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(cancel_button_, &QPushButton::clicked, this, &QDialog::reject);
  connect(year_box_, &QComboBox::currentIndexChanged, this, [this] { ShowCurrentUnit(); });
  connect(unit_box_, &QComboBox::currentIndexChanged, this,
          [this] { decimals_box_->setValue(ConfiguredDecimals(TargetUnit())); });
  LoadYears();
}

void CConvertAreaUnitDlg::LoadYears() {
  const std::string table = TableNames(db_mode_, "", county_).AreaUnit();
  try {
    db::Connection database(connection_);
    if (database.TableExists(table)) {
      db::Recordset years(database,
                          "select 年度 as 年度 from " + table + " group by 年度 order by 年度");
      for (; !years.IsEOF(); years.MoveNext()) {
        year_box_->addItem(QString::fromStdString(years.Text("年度")));
      }
    }
  } catch (const db::DbError& error) {
    ShowMessage(QString::fromUtf8("连接数据库失败: ") + QString::fromStdString(error.what()));
  }
  // The latest year first chosen.
  if (year_box_->count() > 0) year_box_->setCurrentIndex(year_box_->count() - 1);
  ShowCurrentUnit();
}

void CConvertAreaUnitDlg::ShowCurrentUnit() {
  const std::string year = year_box_->currentText().toStdString();
  const short unit =
      year.empty() ? -1 : GetStatDataAreaUnit(connection_, db_mode_, year, county_, "TDLY_YJFL");
  current_unit_->setText(unit < 0 ? QString::fromUtf8("未转换")
                                  : QString::fromUtf8(UnitText(unit)));
}

short CConvertAreaUnitDlg::TargetUnit() const {
  return static_cast<short>(unit_box_->currentData().toInt());
}

void CConvertAreaUnitDlg::OnOK() {
  if (InJob()) return;
  const std::string year = year_box_->currentText().toStdString();
  if (year.empty()) {
    ShowMessage(QString::fromUtf8("数据库中没有统计数据, 请先进行统计"));
    return;
  }
  {
    const JobScope job(*this);
    m_nResult = ConvertStatDatabase(codes_, connection_, db_mode_, year, county_, TargetUnit(),
                                    static_cast<short>(decimals_box_->value()), -1, log_path_);
  }
  ShowMessage(QString::fromUtf8(m_nResult > 0 ? "面积单位转换完成" : "面积单位转换失败"));
  accept();
}

short ConvertAreaUnitDlg(gis::RuralCode* codes, const std::string& connection, short db_mode,
                         const std::string& county, const std::string& log_path) {
  CConvertAreaUnitDlg dialog(codes, connection, db_mode, county, log_path);
  return dialog.DoModal() == host::IDOK ? dialog.m_nResult : 0;
}

}  // namespace landstat
