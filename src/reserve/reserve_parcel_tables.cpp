// The reserve parcel tables filled from the reserve layer.

#include "engine/stat_context.h"

namespace landstat {

short CStatContext::CreateGdhbBaseTable() {
  return 0;
}
short CStatContext::CreateKkkGdhbTable() {
  return 0;
}
short CStatContext::CreateKfkGdhbTable() {
  return 0;
}
short CStatContext::CreateKkkGdhbOldTable() {
  return 0;
}
short CStatContext::CreateKfkGdhbOldTable() {
  return 0;
}
short CStatContext::FillGdhbBaseTable() {
  return 0;
}
short CStatContext::FillKkkGdhbTable() {
  return 0;
}
short CStatContext::FillKfkGdhbTable() {
  return 0;
}
short CStatContext::FillKkkGdhbOldTable() {
  return 0;
}
short CStatContext::FillKfkGdhbOldTable() {
  return 0;
}

}  // namespace landstat
