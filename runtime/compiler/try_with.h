// try_with.h - TRY ... CATCH ... FINALLY ... ENDTRY and WITH ... ENDWITH.
//
// A TRY compiles to: the handler of the protected block; the protected statements; the CATCH
// clauses, tested in order in the TRY's own frame (so WHEN sees the frame's variables), each with
// its body; then one FINALLY body that every way out of the block passes: falling through, the end
// of a CATCH body, an error no clause takes (raised again afterwards), an error inside a WHEN or a
// CATCH body (raised again afterwards), and EXIT, LOOP, RETURN or a loop end statement that jumps
// out of the block (which then goes on as it was written). Such jumps are routed here: they jump
// to a label of the TRY whose code, emitted when the TRY ends, runs the FINALLY body and then
// emits the jump again in the scope of the TRY statement (where an outer TRY may route it again).
#pragma once

#include <qzbase.h>

#include <functional>
#include <vector>

#include "compiler/statements.h"

namespace qzbase {

class Cmd_Return;

// Re-emits a routed jump in the given scope.
using exit_emitter = std::function<void(CompiledCodeCollection* code, CodePath& path)>;

// One open TRY, seen by the scopes inside it through CodePath::try_block.
class TryBlock {
 public:
  struct pending_exit_st {
    AddressLabelRecord* label;  // where the routed jump goes; placed when the TRY ends
    document_location_st location;
    exit_emitter reissue;
  };
  std::vector<pending_exit_st> exits;
  // The TRY whose protected block or CATCH bodies hold this one; null at the unit's top.
  TryBlock* outer = nullptr;
  // The temporary that keeps the value of a RETURN whose innermost TRY this is, from the RETURN
  // until the outermost TRY's FINALLY has run; empty until the first such RETURN. The RETURNs of
  // one TRY share it: none of them runs inside a FINALLY it passes through.
  String return_temp;
  // Return temporaries of finished TRYs inside this one. Their values may still be read after
  // this TRY's FINALLY (an error or a jump inside it may abandon a nested RETURN, and the one that
  // led there goes on), so only TRYs inside this one's protected block or CATCH bodies take them
  // again; when this TRY ends they go to the enclosing one.
  std::vector<String> free_return_temps;
};

int compile_stmt_try(const statement_list::const_iterator& end, statement_list::iterator& it,
                     CompiledCodeCollection* code, CodePath& path);
int compile_stmt_with(const statement_list::const_iterator& end, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path);
int compile_stmt_endwith(const statement_list::const_iterator& end, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path);

// The innermost TRY block a jump from `from` to the scope `target` leaves (target excluded; null:
// leaving the unit), or null when it leaves none.
TryBlock* try_block_between(CodePath& from, const CodePath* target);
// Appends a jump (at location) to a new label of block; reissue runs, in the scope of the TRY
// statement, when the TRY ends and emits what follows its FINALLY body for this jump.
void route_exit(TryBlock* block, const document_location_st& location, CompiledCodeCollection* code,
                exit_emitter reissue);
// RETURN inside a TRY block: the value is kept in a temporary, the FINALLY bodies run, then the
// unit returns it. False (nothing emitted) when the RETURN leaves no TRY block.
bool compile_return_through_finally(const Cmd_Return* statement, CompiledCodeCollection* code, CodePath& path);

// The callee name of the call the TRY code leaves for the linker, which binds it to
// try_raise_again. It is no identifier, so no source text can name it and it never meets a user's
// function; and until linked the TRY code holds only unresolved calls, as a program stored in a
// compiled-module file must.
inline constexpr char kRaiseAgainCall[] = "(raise again)";

// The command the TRY code calls to raise a caught error again: one argument, the exception object
// the handler stored. An error goes on as a RuntimeError of the same number, message and detail; a
// THROWn value goes to the next handler that takes it as the same exception object (2059 when
// none does).
void try_raise_again(VmStack* stack, size_t nargs);

}  // namespace qzbase
