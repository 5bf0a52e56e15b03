// The layouts of the land-use summary tables and the bodies that create one
// table of a layout: drop a table of that name, create it empty.

#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

constexpr const char* kArea = " double default 0.00";

std::string ClassColumns(const std::vector<std::string>& codes, bool rural) {
  std::string columns;
  for (const std::string& code : codes) {
    if (rural && !IsRuralClassCode(code)) continue;
    columns += (columns.empty() ? "" : ",") + std::string("BM") + code + kArea;
  }
  return columns;
}

std::string ThreeColumnsPerClass(std::initializer_list<const char*> classes) {
  std::string columns = std::string("ZHJ") + kArea + ",GHJ" + kArea + ",JHJ" + kArea;
  for (const char* code : classes) {
    for (const char* part : {"HJ", "G", "J"}) {
      columns += std::string(",BM") + code + part + kArea;
    }
  }
  return columns;
}

}  // namespace

bool IsRuralClassCode(const std::string& code) {
  const std::string head = code.substr(0, 2);
  return head < "05" || head > "09";
}

std::string CStatContext::SummaryLayoutStatement(SummaryLayout layout,
                                                 const std::string& name) const {
  const std::string head =
      "Create Table " + name + "(XZQDM varchar(19) ,XZQMC varchar(60) ,XZQZMJ double default 0.00,";
  const std::string enclave_head =
      "Create Table " + name +
      "(SZXZQDM varchar(19) ,SZXZQMC varchar(60) ,SSXZQDM varchar(19) ,SSXZQMC varchar(60) ,"
      "FRDMJ double default 0.00,";
  // The head and the class columns; a list without any class column leaves
  // no comma before the closing parenthesis.
  const auto with_classes = [](std::string text, const std::string& classes) {
    if (classes.empty() && text.back() == ',') text.pop_back();
    return text + classes + ")";
  };
  switch (layout) {
    case SummaryLayout::kFirstLevel:
    case SummaryLayout::kIslandFirstLevel:
      return with_classes(head, ClassColumns(m_arrClass1Codes, false));
    case SummaryLayout::kSecondLevel:
    case SummaryLayout::kThirdLevel:
    case SummaryLayout::kIslandSecondLevel:
      return with_classes(head, ClassColumns(m_arrClassCodes, false));
    case SummaryLayout::kRuralFirstLevel:
    case SummaryLayout::kRuralIslandFirstLevel:
      return with_classes(head, ClassColumns(m_arrClass1Codes, true));
    case SummaryLayout::kRuralSecondLevel:
    case SummaryLayout::kRuralThirdLevel:
    case SummaryLayout::kRuralIslandSecondLevel:
      return with_classes(head, ClassColumns(m_arrClassCodes, true));
    case SummaryLayout::kEnclaveFirstLevel:
      return with_classes(enclave_head, ClassColumns(m_arrClass1Codes, false));
    case SummaryLayout::kEnclaveSecondLevel:
      return with_classes(enclave_head, ClassColumns(m_arrClassCodes, false));
    case SummaryLayout::kRuralOwnership:
      return "Create Table " + name + "(XZQDM varchar(19) ,XZQMC varchar(60) ," +
             ThreeColumnsPerClass({"01", "02", "03", "04", "10", "11", "12", "20"}) + ")";
    case SummaryLayout::kOwnership:
      return "Create Table " + name + "(XZQDM varchar(19) ,XZQMC varchar(60) ," +
             ThreeColumnsPerClass(
                 {"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11", "12"}) +
             ")";
    case SummaryLayout::kSlope: {
      // The row number: an identity column, a plain number on Oracle.
      std::string sql = "Create Table " + name + "(ID " + Dialect().IdentityColumn() +
                        " ,XZQDM varchar(19) ,XZQMC varchar(60) ,GDMJ" + kArea + ",PDMJ" + kArea;
      for (const char* grade : {"2", "3", "4", "5"}) {
        for (const char* part : {"HJ", "TT", "PD"}) sql += std::string(",") + part + grade + kArea;
      }
      return sql + ")";
    }
    case SummaryLayout::kLedger: {
      std::string sql = "Create Table " + name + "(";
      bool first = true;
      for (const std::string& field : m_arrStatFields) {
        sql += (first ? "" : ",") + StatColumnDefinition(field);
        first = false;
      }
      return sql + ")";
    }
    case SummaryLayout::kAdjustable: {
      std::string sql =
          "Create Table " + name + "(XZQDM varchar(19) ,XZQMC varchar(60) ,XZQZMJ" + kArea;
      for (const char* column : {"BM021K", "BM022K", "BM023K", "BM031K", "BM033K", "BM042K",
                                 "BM114K", "BM021KB", "BM022KB", "BM023KB"}) {
        sql += std::string(",") + column + kArea;
      }
      return sql + ")";
    }
  }
  return {};
}

namespace {

struct LayoutWording {
  const char* title;
  const char* message;
};

// How each layout's failed create is logged; island tables are not.
LayoutWording WordingOf(SummaryLayout layout) {
  switch (layout) {
    case SummaryLayout::kFirstLevel:
      return {"建立土地利用现状一级分类面积表", "建立土地利用现状一级分类面积表失败"};
    case SummaryLayout::kSecondLevel:
      return {"建立土地利用现状二级分类面积表", "建立土地利用现状二级分类面积表失败"};
    case SummaryLayout::kThirdLevel:
      return {"建立土地利用现状三级分类面积表", "建立土地利用现状三级级分类面积表失败"};
    case SummaryLayout::kRuralFirstLevel:
      return {"建立农村土地利用现状一级分类面积表", "建立农村土地利用现状一级分类面积表失败"};
    case SummaryLayout::kRuralSecondLevel:
      return {"建立农村土地利用现状二级分类面积表", "建立农村土地利用现状二级分类面积表失败"};
    case SummaryLayout::kRuralThirdLevel:
      return {"建立农村土地利用现状三级分类面积表", "建立农村土地利用现状三级分类面积表失败"};
    case SummaryLayout::kRuralOwnership:
      return {"建立农村权属汇总表", "建立农村权属汇总表失败"};
    case SummaryLayout::kOwnership:
      return {"建立土地利用权属汇总表", "建立土地利用权属汇总表失败"};
    case SummaryLayout::kEnclaveFirstLevel:
      return {"建立飞入地一级汇总表", "建立飞入地一级汇总表失败"};
    case SummaryLayout::kEnclaveSecondLevel:
      return {"建立飞入地二级汇总表", "建立飞入地二级汇总表失败"};
    case SummaryLayout::kSlope:
      return {"建立耕地坡度汇总表", "建立耕地坡度汇总表失败"};
    case SummaryLayout::kLedger:
      return {"创建台帐", "创建台帐表失败"};
    case SummaryLayout::kAdjustable:
      return {"建立可调整表", "建立可调整表失败"};
    default:
      return {nullptr, nullptr};  // island tables
  }
}

}  // namespace

short CStatContext::CreateSummaryTable(SummaryLayout layout, const std::string& name, bool record) {
  if (IsTableExist(name)) DropTable(name);
  try {
    m_pConn.Execute(TypeWords(SummaryLayoutStatement(layout, name)));
  } catch (const db::DbError& error) {
    const LayoutWording wording = WordingOf(layout);
    if (wording.title) {
      LogFailure(wording.title, wording.message, error);
    } else {
      LogFailure("建立汇总表", name + " 建立失败", error);
    }
    return 0;
  }
  if (record) m_arrCreatedTbls.push_back(name);
  return 1;
}

// The create bodies, one per layout.
short CStatContext::CreateTdlyYjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kFirstLevel, name);
}
short CStatContext::CreateTdlyEjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kSecondLevel, name);
}
short CStatContext::CreateTdlySjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kThirdLevel, name);
}
short CStatContext::CreateNcTdlyYjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kRuralFirstLevel, name);
}
short CStatContext::CreateNcTdlyEjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kRuralSecondLevel, name);
}
short CStatContext::CreateNcTdlySjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kRuralThirdLevel, name);
}
short CStatContext::CreateHdTdlyYjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kIslandFirstLevel, name);
}
short CStatContext::CreateHdTdlyEjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kIslandSecondLevel, name);
}
short CStatContext::CreateNcHdTdlyYjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kRuralIslandFirstLevel, name);
}
short CStatContext::CreateNcHdTdlyEjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kRuralIslandSecondLevel, name);
}
short CStatContext::CreateFrdTdlyYjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kEnclaveFirstLevel, name);
}
short CStatContext::CreateFrdTdlyEjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kEnclaveSecondLevel, name);
}
short CStatContext::CreateNcTdlyQsYjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kRuralOwnership, name);
}
short CStatContext::CreateTdlyQsYjflTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kOwnership, name);
}
short CStatContext::CreateGdPdMjHzTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kSlope, name);
}
short CStatContext::CreateTdlyTzTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kLedger, name);
}
short CStatContext::CreateKtzTable(const std::string& name) {
  return CreateSummaryTable(SummaryLayout::kAdjustable, name);
}

}  // namespace landstat
