local b = {}
local x = 1
for _ = 1, 300000 do
  x = (x * 75 + 74) % 65537
  b[#b + 1] = x % 7000
end
table.sort(b)
local s = 0
for _, v in ipairs(b) do s = s + v end
print(b[1] .. " " .. b[150000] .. " " .. b[300000] .. " " .. s)
