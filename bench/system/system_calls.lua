-- The loops of system_calls.prg in Lua 5.4: lua5.4 system_calls.lua OP [COUNT]. Lua has no
-- settings table nor CRC: set reads a field of a table, sys2007 is a CRC-16 in plain Lua.
local op = arg[1]
local n = tonumber(arg[2] or "1000000")
local x = 1
local s = string.rep("0123456789", 10)
local settings = {decimals = 2}
local r
local function crc16(text)
  local crc = 0
  for i = 1, #text do
    crc = crc ~ (text:byte(i) << 8)
    for _ = 1, 8 do
      if crc & 0x8000 ~= 0 then crc = ((crc << 1) ~ 0x1021) & 0xFFFF else crc = (crc << 1) & 0xFFFF end
    end
  end
  return tostring(crc)
end
if op == "empty" then
  for _ = 1, n do r = x end
elseif op == "getenv" then
  for _ = 1, n do r = os.getenv("HOME") end
elseif op == "set" then
  for _ = 1, n do r = settings.decimals end
elseif op == "sys2007" then
  for _ = 1, n do r = crc16(s) end
elseif op == "echo" then
  for _ = 1, n do print("line") end
else
  print("unknown operation", op)
end
