d = {^2024-02-29}
? d, d + 1, YEAR(d), MONTH(d), DAY(d), GOMONTH(d, 12)
? DTOS({^9999-12-31}), {^2024-01-01} - {^2023-01-01}
TRY
  ? {^9999-12-31} + 1
CATCH TO e
  ? e.ErrorNo
ENDTRY
