* DO and SET PROCEDURE TO find name.prg for a name without extension, in the current folder and
* then along SET PATH; error 1 names the name as written when neither exists.
DO do_helper WITH "beside"
DO do_helper.prg WITH "with extension"
SET PATH TO do_path
DO do_deeper
DO do_farewell IN do_procs
SET PROCEDURE TO do_procs
? proc_greet("there")
TRY
  DO do_missing
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  SET PROCEDURE TO do_missing
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
