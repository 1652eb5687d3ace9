local n = tonumber(arg[1])
local k = 0
local function body() k = k + 1 end
for i = 1, n do
  local ok = pcall(body)
  if not ok then k = -1 end
end
print(k)
