local parts = {}
for i = 1, 300000 do
  parts[#parts + 1] = "ab"
  parts[#parts + 1] = tostring(i)
end
local s = table.concat(parts)
local n = 0
for k = 1, #s do
  if string.byte(s, k) == 49 then n = n + 1 end
end
print(#s)
print(n)
