local n = tonumber(arg[1])
local s = "lorem ipsum dolor sit amet"
local total = 0
for i = 1, n do
  local r = string.upper(string.sub(s, 1 + i % 10, 8 + i % 10)) .. string.format("%10d", i)
  total = total + #r
end
print(total)
