// sql_functions.h - the SQL pass-through built-ins (sql.h holds the machinery behind them).
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

void bi_sqlconnect(VmStack* stack, size_t argc, Variant* result);        // SQLCONNECT
void bi_sqlstringconnect(VmStack* stack, size_t argc, Variant* result);  // SQLSTRINGCONNECT
void bi_sqldisconnect(VmStack* stack, size_t argc, Variant* result);     // SQLDISCONNECT
void bi_asqlhandles(VmStack* stack, size_t argc, Variant* result);       // ASQLHANDLES
void bi_sqlgetprop(VmStack* stack, size_t argc, Variant* result);        // SQLGETPROP
void bi_sqlsetprop(VmStack* stack, size_t argc, Variant* result);        // SQLSETPROP
void bi_sqlprepare(VmStack* stack, size_t argc, Variant* result);        // SQLPREPARE
void bi_sqlexec(VmStack* stack, size_t argc, Variant* result);           // SQLEXEC
void bi_sqlmoreresults(VmStack* stack, size_t argc, Variant* result);    // SQLMORERESULTS

}  // namespace qzbase
