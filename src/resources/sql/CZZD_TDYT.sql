select '总计' AS 土地用途,
	'' AS 土地用途名称,
	COUNT(*) AS 宗数,
	SUM(宗地总面积) AS 宗地总面积,
	SUM(占地面积) AS 占地面积,
	SUM(建筑面积) AS 建筑面积,
	iif(SUM(宗地总面积)=0,0,SUM(占地面积))/iif(SUM(宗地总面积)=0,1,SUM(宗地总面积))*100 AS 建筑密度,
	iif(SUM(宗地总面积)=0,0,SUM(建筑面积))/iif(SUM(宗地总面积)=0,1,SUM(宗地总面积))*100 AS 建筑容积率
from SourceTbl
where 土地用途 is not null
union
select 土地用途,
	土地用途名称,
	COUNT(*) AS 宗数,
	SUM(宗地总面积) AS 宗地总面积,
	SUM(占地面积) AS 占地面积,
	SUM(建筑面积) AS 建筑面积,
	iif(SUM(宗地总面积)=0,0,SUM(占地面积))/iif(SUM(宗地总面积)=0,1,SUM(宗地总面积))*100 AS 建筑密度,
	iif(SUM(宗地总面积)=0,0,SUM(建筑面积))/iif(SUM(宗地总面积)=0,1,SUM(宗地总面积))*100 AS 建筑容积率
from SourceTbl
where 土地用途 is not null
GROUP BY 土地用途,土地用途名称
ORDER BY 土地用途
